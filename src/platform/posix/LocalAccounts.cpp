#include "platform/posix/LocalAccounts.h"

#include <mutex>

#include "platform/posix/RegistryAccountTable.h"

namespace kx::platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<const ILocalAccountTable> g_table;

}  // namespace

std::shared_ptr<const ILocalAccountTable> SetLocalAccountTable(
    std::shared_ptr<const ILocalAccountTable> table) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_table.swap(table);
    return table;
}

std::shared_ptr<const ILocalAccountTable> GetLocalAccountTable() {
    static const auto registryTable = std::make_shared<const CRegistryAccountTable>();
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_table ? g_table : registryTable;
}

}  // namespace kx::platform
