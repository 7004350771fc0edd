#include "platform/posix/LdapSearch.h"

#include "common/Text.h"

namespace kx::platform {

LdapSearch::LdapSearch(std::shared_ptr<LdapConnection> connection, std::string base)
    : connection_(std::move(connection)), base_(std::move(base)) {}

LdapSearch::~LdapSearch() {
    CloseSearchHandle();
}

uint32_t LdapSearch::SetSearchPreference(const std::vector<SearchPreference>& preferences) {
    for (const SearchPreference& preference : preferences) {
        switch (preference.kind) {
            case SearchPreferenceKind::SearchScope:
                if (preference.value > LDAP_SCOPE_SUBTREE) return kDirectoryInvalidArgument;
                scope_ = static_cast<int>(preference.value);
                break;
            case SearchPreferenceKind::PageSize:
                pageSize_ = preference.value;
                break;
            case SearchPreferenceKind::Tombstone:
                tombstones_ = preference.value != 0;
                break;
            case SearchPreferenceKind::CacheResults:
                break;  // rows are never kept after they were read
        }
    }
    return 0;
}

uint32_t LdapSearch::ExecuteSearch(const std::wstring& filter,
                                   const std::vector<std::wstring>& attributes) {
    CloseSearchHandle();
    filter_ = WideToUtf8(filter);
    attributes_.clear();
    for (const std::wstring& attribute : attributes) attributes_.push_back(WideToUtf8(attribute));
    done_ = false;
    return SendPage();
}

uint32_t LdapSearch::SendPage() {
    LDAP* ld = connection_->Handle();
    std::vector<char*> names;
    for (std::string& attribute : attributes_) names.push_back(attribute.data());
    names.push_back(nullptr);
    LDAPControl* paged = nullptr;
    if (pageSize_ > 0 &&
        ldap_create_page_control(ld, pageSize_, cookie_, 0, &paged) != LDAP_SUCCESS)
        return kDirectoryOperationsError;
    LDAPControl* controls[3] = {};
    int count = 0;
    if (paged) controls[count++] = paged;
    if (tombstones_) controls[count++] = ShowDeletedControl();
    const int result =
        ldap_search_ext(ld, base_.c_str(), scope_, filter_.c_str(), names.data(), 0, controls,
                        nullptr, connection_->OperationTimeout(), 0, &messageId_);
    if (paged) ldap_control_free(paged);
    if (result != LDAP_SUCCESS) {
        done_ = true;
        messageId_ = -1;
        return connection_->Check(result);
    }
    return 0;
}

uint32_t LdapSearch::FinishPage(LDAPMessage* result, bool* more) {
    *more = false;
    int error = LDAP_OTHER;
    LDAPControl** controls = nullptr;
    LDAP* ld = connection_->Handle();
    if (ldap_parse_result(ld, result, &error, nullptr, nullptr, nullptr, &controls, 0) !=
        LDAP_SUCCESS)
        error = LDAP_OTHER;
    messageId_ = -1;
    if (cookie_) ber_bvfree(cookie_);
    cookie_ = nullptr;
    if (error == LDAP_SUCCESS && controls) {
        ber_int_t estimate = 0;
        berval cookie{0, nullptr};
        if (ldap_parse_pageresponse_control(
                ld, ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls, nullptr), &estimate,
                &cookie) == LDAP_SUCCESS &&
            cookie.bv_len > 0) {
            cookie_ = ber_bvdup(&cookie);
            *more = true;
        }
        ber_memfree(cookie.bv_val);
    }
    ldap_controls_free(controls);
    return connection_->Check(error);
}

uint32_t LdapSearch::GetNextRow() {
    ldap_msgfree(row_);
    row_ = nullptr;
    LDAP* ld = connection_->Handle();
    while (!done_) {
        LDAPMessage* message = nullptr;
        const int type =
            ldap_result(ld, messageId_, LDAP_MSG_ONE, connection_->OperationTimeout(), &message);
        if (type <= 0) {
            ldap_msgfree(message);
            if (type == 0) ldap_abandon_ext(ld, messageId_, nullptr, nullptr);
            done_ = true;
            messageId_ = -1;
            return connection_->Check(type == 0 ? LDAP_TIMEOUT : LDAP_SERVER_DOWN);
        }
        if (type == LDAP_RES_SEARCH_ENTRY) {
            row_ = message;
            return 0;
        }
        if (type == LDAP_RES_SEARCH_RESULT) {
            bool more = false;
            const uint32_t code = FinishPage(message, &more);
            ldap_msgfree(message);
            if (code != 0) {
                done_ = true;
                return code;
            }
            if (!more) {
                done_ = true;
                break;
            }
            if (uint32_t sent = SendPage()) return sent;
            continue;
        }
        ldap_msgfree(message);  // continuation references and anything else
    }
    return kDirectoryNoMoreRows;
}

berval** LdapSearch::Values(const std::wstring& name) {
    if (!row_) return nullptr;
    return ldap_get_values_len(connection_->Handle(), row_, WideToUtf8(name).c_str());
}

uint32_t LdapSearch::GetStringColumn(const std::wstring& name, std::wstring& value) {
    berval** values = Values(name);
    if (!values || !values[0]) {
        ldap_value_free_len(values);
        return kDirectoryNoColumn;
    }
    value = Utf8ToWide(std::string_view(values[0]->bv_val, values[0]->bv_len));
    ldap_value_free_len(values);
    return 0;
}

uint32_t LdapSearch::GetOctetColumn(const std::wstring& name, std::vector<uint8_t>& value) {
    berval** values = Values(name);
    if (!values || !values[0]) {
        ldap_value_free_len(values);
        return kDirectoryNoColumn;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(values[0]->bv_val);
    value.assign(bytes, bytes + values[0]->bv_len);
    ldap_value_free_len(values);
    return 0;
}

uint32_t LdapSearch::CloseSearchHandle() {
    ldap_msgfree(row_);
    row_ = nullptr;
    if (messageId_ >= 0) ldap_abandon_ext(connection_->Handle(), messageId_, nullptr, nullptr);
    messageId_ = -1;
    if (cookie_) ber_bvfree(cookie_);
    cookie_ = nullptr;
    done_ = true;
    return 0;
}

}  // namespace kx::platform
