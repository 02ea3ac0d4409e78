#pragma once
// The keeper of builds that resume and check a publisher: kept bytes in
// files beside the installer's path (kept_file_win.h).

#include <memory>

#include "download/download_keeper_win.h"

namespace kelvora {

std::unique_ptr<DownloadKeeper> MakeKeptFileKeeper();

}  // namespace kelvora
