#include "platform/posix/LdapGssapiBind.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <sasl/sasl.h>

#include <functional>

namespace kx::platform {
namespace {

std::string GssStatusText(OM_uint32 major, OM_uint32 minor) {
    std::string text;
    const std::pair<OM_uint32, int> statuses[] = {{major, GSS_C_GSS_CODE},
                                                  {minor, GSS_C_MECH_CODE}};
    for (const auto& [status, type] : statuses) {
        OM_uint32 context = 0;
        do {
            OM_uint32 ignored = 0;
            gss_buffer_desc buffer = GSS_C_EMPTY_BUFFER;
            if (status == 0 || GSS_ERROR(gss_display_status(&ignored, status, type, GSS_C_NO_OID,
                                                            &context, &buffer)))
                break;
            if (!text.empty()) text += ": ";
            text.append(static_cast<const char*>(buffer.value), buffer.length);
            gss_release_buffer(&ignored, &buffer);
        } while (context != 0);
    }
    return text;
}

gss_cred_id_t AcquireKeytabCredential(const std::string& keytab, std::string& why) {
    const std::string cache =
        "MEMORY:kx-directory-" + std::to_string(std::hash<std::string>{}(keytab));
    gss_key_value_element_desc elements[] = {{"client_keytab", keytab.c_str()},
                                             {"ccache", cache.c_str()}};
    gss_key_value_set_desc store{2, elements};
    gss_OID_set_desc kerberos{1, const_cast<gss_OID>(gss_mech_krb5)};
    OM_uint32 minor = 0;
    gss_cred_id_t credential = GSS_C_NO_CREDENTIAL;
    const OM_uint32 major =
        gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &kerberos, GSS_C_INITIATE,
                              &store, &credential, nullptr, nullptr);
    if (!GSS_ERROR(major)) return credential;
    why = "no Kerberos credential from the keytab " + keytab + ": " + GssStatusText(major, minor);
    return GSS_C_NO_CREDENTIAL;
}

struct Interaction {
    gss_cred_id_t credential;
    bool handed = false;
};

// SASL asks its first question before its first GSS call: the moment its
// context exists and can still be given the keytab's credential. The other
// answers are the defaults; the keytab holds everything else.
int Interact(LDAP* ld, unsigned, void* defaults, void* prompts) {
    auto* interaction = static_cast<Interaction*>(defaults);
    if (!interaction->handed &&
        ldap_set_option(ld, LDAP_OPT_X_SASL_GSS_CREDS, interaction->credential) == LDAP_OPT_SUCCESS)
        interaction->handed = true;
    for (auto* prompt = static_cast<sasl_interact_t*>(prompts); prompt->id != SASL_CB_LIST_END;
         ++prompt) {
        prompt->result = prompt->defresult ? prompt->defresult : "";
        prompt->len = static_cast<unsigned>(
            std::char_traits<char>::length(static_cast<const char*>(prompt->result)));
    }
    return LDAP_SUCCESS;
}

}  // namespace

int GssapiBind(LDAP* ld, const std::string& keytab, std::string& why) {
    Interaction interaction{AcquireKeytabCredential(keytab, why)};
    if (interaction.credential == GSS_C_NO_CREDENTIAL) return LDAP_LOCAL_ERROR;
    int result = ldap_sasl_interactive_bind_s(ld, nullptr, "GSSAPI", nullptr, nullptr,
                                              LDAP_SASL_QUIET, Interact, &interaction);
    OM_uint32 minor = 0;
    gss_release_cred(&minor, &interaction.credential);
    // Bound, but not as the keytab says: refuse rather than be someone else.
    if (result == LDAP_SUCCESS && !interaction.handed) {
        why = "SASL took no credential from the keytab " + keytab;
        result = LDAP_LOCAL_ERROR;
    }
    return result;
}

}  // namespace kx::platform
