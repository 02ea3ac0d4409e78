#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "ui/com_apartment_win.h"

namespace kelvora::ui {
namespace {

// What a second initialisation on the same thread answers.
HRESULT Probe(DWORD model) {
  const HRESULT result = CoInitializeEx(nullptr, model);
  if (SUCCEEDED(result)) CoUninitialize();
  return result;
}

TEST(ComApartment, JoinsASingleThreadedApartmentForItsLifetime) {
  // A thread of its own, whose COM state nothing else has touched.
  std::thread([] {
    {
      ComApartment apartment;
      EXPECT_TRUE(apartment.Joined());
      EXPECT_EQ(Probe(COINIT_APARTMENTTHREADED), S_FALSE);  // already in this kind
      EXPECT_EQ(Probe(COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    }
    EXPECT_EQ(Probe(COINIT_MULTITHREADED), S_OK);  // left again
  }).join();
}

TEST(ComApartment, LeavesAnotherApartmentAlone) {
  std::thread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    {
      ComApartment apartment;
      EXPECT_FALSE(apartment.Joined());
    }
    EXPECT_EQ(Probe(COINIT_MULTITHREADED), S_FALSE);  // still in it
    CoUninitialize();
  }).join();
}

}  // namespace
}  // namespace kelvora::ui
