// kelvora_font_face: asks GDI for a font by face name and character set and
// prints the face it really selected. GDI never fails such a request: when the
// face is missing it quietly substitutes another, which is what this shows.
//
//   kelvora_font_face FACE CHARSET        CHARSET as a number (2: SYMBOL_CHARSET)
// Prints {"requested": "...", "charset": N, "face": "...", "selected_charset": N}; exit code 0.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "common/unique_any.h"
#include "common/win32_handles.h"

namespace {

void delete_dc(HDC dc) noexcept { DeleteDC(dc); }
using unique_memory_dc = kelvora::unique_any<HDC, delete_dc>;

// Puts a font into a DC for as long as it lives, then puts the old one back.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(SelectObject(dc, object)) {}
  ~Selected() { SelectObject(dc_, old_); }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// The face name as UTF-8 with JSON's quote and backslash escaped; control characters dropped.
std::string Json(const wchar_t* text) {
  std::string out;
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return out;
  std::string utf8(static_cast<size_t>(size - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  for (char c : utf8) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  return out;
}

int Fail(const char* what) {
  std::fprintf(stderr, "kelvora_font_face: %s failed (%lu)\n", what, GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 || std::wcslen(argv[1]) >= LF_FACESIZE) {
    std::fprintf(stderr, "usage: kelvora_font_face FACE CHARSET\n");
    return 2;
  }
  const long charset = std::wcstol(argv[2], nullptr, 10);
  if (charset < 0 || charset > 255) {
    std::fprintf(stderr, "kelvora_font_face: CHARSET must be 0-255\n");
    return 2;
  }

  LOGFONTW wanted{};
  wanted.lfHeight = -16;
  wanted.lfWeight = FW_NORMAL;
  wanted.lfCharSet = static_cast<BYTE>(charset);
  wcsncpy(wanted.lfFaceName, argv[1], LF_FACESIZE - 1);

  unique_memory_dc dc;
  {
    kelvora::unique_screen_dc screen(GetDC(nullptr));
    if (!screen) return Fail("GetDC");
    dc.reset(CreateCompatibleDC(screen.get()));
  }
  if (!dc) return Fail("CreateCompatibleDC");
  kelvora::unique_hfont font(CreateFontIndirectW(&wanted));
  if (!font) return Fail("CreateFontIndirectW");
  wchar_t face[LF_FACESIZE] = {};
  TEXTMETRICW metrics{};
  {
    Selected selected(dc.get(), font.get());
    if (GetTextFaceW(dc.get(), LF_FACESIZE, face) == 0) return Fail("GetTextFaceW");
    if (!GetTextMetricsW(dc.get(), &metrics)) return Fail("GetTextMetricsW");
  }

  std::printf("{\"requested\": \"%s\", \"charset\": %ld, \"face\": \"%s\", \"selected_charset\": %u}\n",
              Json(argv[1]).c_str(), charset, Json(face).c_str(), static_cast<unsigned>(metrics.tmCharSet));
  return 0;
}
