#include "icon_kind.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "common/unique_any.h"

namespace uia {

namespace {

void delete_dc(HDC dc) noexcept { DeleteDC(dc); }
void delete_bitmap(HBITMAP bitmap) noexcept { DeleteObject(bitmap); }
using unique_hdc = kelvora::unique_any<HDC, delete_dc>;
using unique_hbitmap = kelvora::unique_any<HBITMAP, delete_bitmap>;

// A top-down 32-bit bitmap selected into a memory DC.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height), dc_(CreateCompatibleDC(nullptr)) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    pixels_ = static_cast<std::uint32_t*>(bits);
    if (bitmap_) previous_ = SelectObject(dc_.get(), bitmap_.get());
  }
  ~Canvas() {
    if (previous_) SelectObject(dc_.get(), previous_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool ok() const { return pixels_ != nullptr; }
  HDC dc() const { return dc_.get(); }
  std::uint32_t at(int x, int y) const { return pixels_[y * width_ + x]; }
  void Fill(std::uint32_t colour) {
    GdiFlush();
    for (int i = 0; i < width_ * height_; ++i) pixels_[i] = colour;
  }

 private:
  int width_, height_;
  unique_hdc dc_;
  unique_hbitmap bitmap_;
  HGDIOBJ previous_ = nullptr;
  std::uint32_t* pixels_ = nullptr;
};

int ChannelDistance(std::uint32_t a, std::uint32_t b) {
  int sum = 0;
  for (int shift = 0; shift < 24; shift += 8)
    sum += std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
  return sum;
}

}  // namespace

IconKind ClassifyIcon(HWND icon_control) {
  RECT rect{};
  if (!GetWindowRect(icon_control, &rect)) return IconKind::kUnknown;
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return IconKind::kUnknown;

  // One pixel of margin gives the background the icon is drawn on.
  Canvas shot(width + 2, height + 2);
  if (!shot.ok()) return IconKind::kUnknown;
  HDC screen = GetDC(nullptr);
  BitBlt(shot.dc(), 0, 0, width + 2, height + 2, screen, rect.left - 1, rect.top - 1, SRCCOPY);
  ReleaseDC(nullptr, screen);
  GdiFlush();
  const std::uint32_t background = shot.at(0, 0);

  struct Candidate {
    IconKind kind;
    LPCWSTR id;
  };
  const Candidate candidates[] = {{IconKind::kQuestion, IDI_QUESTION},
                                  {IconKind::kInformation, IDI_INFORMATION},
                                  {IconKind::kWarning, IDI_WARNING},
                                  {IconKind::kError, IDI_ERROR}};
  IconKind best = IconKind::kUnknown;
  long long best_score = std::numeric_limits<long long>::max();
  Canvas drawn(width + 2, height + 2);
  if (!drawn.ok()) return IconKind::kUnknown;
  for (const auto& candidate : candidates) {
    HICON icon = LoadIconW(nullptr, candidate.id);  // shared: not destroyed
    if (!icon) continue;
    drawn.Fill(background);
    DrawIconEx(drawn.dc(), 1, 1, icon, 0, 0, 0, nullptr, DI_NORMAL);
    GdiFlush();
    long long score = 0;
    for (int y = 1; y <= height; ++y)
      for (int x = 1; x <= width; ++x) score += ChannelDistance(shot.at(x, y), drawn.at(x, y));
    if (score < best_score) {
      best_score = score;
      best = candidate.kind;
    }
  }
  // Accept only a close match: on average well under a tenth of the range per channel.
  const long long limit = 3LL * 20 * width * height;
  return best_score <= limit ? best : IconKind::kUnknown;
}

const char* IconKindName(IconKind kind) {
  switch (kind) {
    case IconKind::kQuestion: return "question";
    case IconKind::kInformation: return "information";
    case IconKind::kWarning: return "warning";
    case IconKind::kError: return "error";
    case IconKind::kUnknown: break;
  }
  return "unknown";
}

}  // namespace uia
