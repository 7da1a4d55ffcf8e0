// The time limit on creations: what ends in time passes through, what does
// not is given up with the failure a refused creation gives, and an object
// that arrives after the limit is released, not leaked.
#include "platform/windows/com_creation_limit.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace {

// An object that counts its references, standing in for a proxy.
class CountedObject : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  int references() const { return references_; }

 private:
  std::atomic<int> references_{1};
};

// Runs body on a new thread in the given apartment and waits for it: the
// test's own thread may be in any apartment an earlier test left it in.
template <typename Body>
void InApartment(DWORD model, Body body) {
  std::thread thread([model, &body] {
    const HRESULT apartment = CoInitializeEx(nullptr, model);
    ASSERT_TRUE(SUCCEEDED(apartment));
    body();
    CoUninitialize();
  });
  thread.join();
}

// Waits until condition holds; false after the deadline.
template <typename Condition>
bool AwaitWithDeadline(Condition condition, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST(ComCreationLimit, ACreationThatEndsInTimeHandsOverItsObjectAndResult) {
  InApartment(COINIT_MULTITHREADED, [] {
    CountedObject object;
    IUnknown* created = nullptr;
    HRESULT hr = comcreation::CreateWithinLimit(
        [&object](IUnknown** out) {
          *out = &object;
          return S_OK;
        },
        10000, &created);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(created, &object);
    EXPECT_EQ(object.references(), 1) << "the caller's reference, untouched";

    hr = comcreation::CreateWithinLimit([](IUnknown**) { return E_ACCESSDENIED; }, 10000, &created);
    EXPECT_EQ(hr, E_ACCESSDENIED);
    EXPECT_EQ(created, nullptr);
  });
}

TEST(ComCreationLimit, ACreationPastTheLimitFailsAndItsLateObjectIsReleased) {
  InApartment(COINIT_MULTITHREADED, [] {
    // Outlives the abandoned creation thread, which still refers to it.
    static CountedObject late;
    HANDLE letGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(letGo, nullptr);
    IUnknown* created = reinterpret_cast<IUnknown*>(1);
    const HRESULT hr = comcreation::CreateWithinLimit(
        [letGo](IUnknown** out) {
          WaitForSingleObject(letGo, INFINITE);
          *out = &late;
          return S_OK;
        },
        200, &created);
    EXPECT_EQ(hr, comcreation::kCreationTimedOut);
    EXPECT_EQ(created, nullptr);
    EXPECT_EQ(late.references(), 1);
    // The creation comes back after all: its object goes, once.
    SetEvent(letGo);
    EXPECT_TRUE(AwaitWithDeadline([] { return late.references() == 0; }, std::chrono::seconds(10)))
        << "the late object still holds " << late.references() << " references";
    CloseHandle(letGo);
  });
}

TEST(ComCreationLimit, TheCreationRunsInTheCallersMultithreadedApartment) {
  InApartment(COINIT_MULTITHREADED, [] {
    APTTYPE seen = APTTYPE_STA;
    IUnknown* created = nullptr;
    comcreation::CreateWithinLimit(
        [&seen](IUnknown**) {
          APTTYPEQUALIFIER qualifier;
          if (FAILED(CoGetApartmentType(&seen, &qualifier))) seen = APTTYPE_STA;
          return E_FAIL;
        },
        10000, &created);
    EXPECT_EQ(seen, APTTYPE_MTA);
  });
}

TEST(ComCreationLimit, ACallerInASingleThreadedApartmentCreatesOnItsOwnThread) {
  InApartment(COINIT_APARTMENTTHREADED, [] {
    const DWORD caller = GetCurrentThreadId();
    DWORD creator = 0;
    IUnknown* created = nullptr;
    comcreation::CreateWithinLimit(
        [&creator](IUnknown**) {
          creator = GetCurrentThreadId();
          return E_FAIL;
        },
        10000, &created);
    EXPECT_EQ(creator, caller);
  });
}

}  // namespace
