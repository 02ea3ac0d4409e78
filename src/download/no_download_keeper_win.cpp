// Builds that do not keep cut-off downloads: no keeper, and none linked in.
#include "download/download_keeper_win.h"

namespace kelvora {
std::unique_ptr<DownloadKeeper> MakeDownloadKeeper() { return nullptr; }
}  // namespace kelvora
