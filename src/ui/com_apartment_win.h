#pragma once
// The UI thread's COM apartment. The shell may use COM to start a file
// (ShellExecuteEx asks its callers for a single-threaded apartment), so the
// UI thread joins one before anything is launched.

namespace kelvora::ui {

// Joins the calling thread to a single-threaded apartment for the owner's
// lifetime (OLE1 DDE disabled). Where COM cannot be initialised, or the
// thread already has another kind of apartment, it leaves things as they
// are: the launch still runs, the shell copes without COM for plain files.
class ComApartment {
 public:
  ComApartment() noexcept;
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  bool Joined() const { return joined_; }

 private:
  bool joined_ = false;
};

}  // namespace kelvora::ui
