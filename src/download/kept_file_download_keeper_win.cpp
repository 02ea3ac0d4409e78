// Builds that resume and check the file before the launch keep a cut-off
// download for the next run, in files beside the installer's path.
#include "download/download_keeper_win.h"
#include "download/kept_file_keeper_win.h"

namespace kelvora {
std::unique_ptr<DownloadKeeper> MakeDownloadKeeper() { return MakeKeptFileKeeper(); }
}  // namespace kelvora
