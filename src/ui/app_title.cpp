#include "ui/app_title.h"

namespace kelvora::ui {

std::wstring ApplicationTitle(std::wstring_view exe_path, wchar_t (*lower)(wchar_t)) {
  const size_t folder_end = exe_path.find_last_of(L"\\/:");
  std::wstring_view name = folder_end == std::wstring_view::npos ? exe_path : exe_path.substr(folder_end + 1);
  name = name.substr(0, name.find(L'.'));
  std::wstring title(name);
  for (size_t i = 1; i < title.size(); ++i) title[i] = lower(title[i]);
  return title;
}

}  // namespace kelvora::ui
