#pragma once
// Whether the Windows build runs under Wine, whose XmlLite, event log and
// services differ from Windows'. Always false on Linux.

namespace kx::platform {

bool IsRunningUnderWine();

}  // namespace kx::platform
