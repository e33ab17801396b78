#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/core/vc2XformBase.h"

namespace {

TEST(Handle, CountsOwnershipAndEmptyDereference) {
  vcPtrHandle<vc2XformBase> a(new vc2XformLinear(vcMatrix<2>(), vcVector<2>(1, 2)));
  EXPECT_EQ(a->refCount(), 1);
  {
    vcPtrHandle_const<vc2XformBase> b = a;
    vcPtrHandle_const<vc2XformBase> c(a.ptr());  // a raw pointer joins the same count
    EXPECT_EQ(a->refCount(), 3);
    EXPECT_TRUE(b == c);
  }
  EXPECT_EQ(a->refCount(), 1);
  vcPtrHandle<vc2XformBase> empty;
  EXPECT_TRUE(empty.isNull());
  EXPECT_THROW(*empty, vcBadPointer);
  EXPECT_THROW(empty->isLinear(), vcBadPointer);
  vcPtrHandle_const<vc2XformBase> ce;
  EXPECT_THROW(ce->isLinear(), vcBadPointer);
  a = empty;  // releasing the last holder frees the object (checked by the sanitizer build)
  EXPECT_TRUE(a.isNull());
}

TEST(Handle, CopiesOnSeveralThreadsKeepTheCount) {
  vcPtrHandle<vc2XformBase> shared(new vc2XformLinear);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&shared] {
      for (int i = 0; i < 50000; ++i) {
        vcPtrHandle_const<vc2XformBase> copy = shared;
        vcPtrHandle_const<vc2XformBase> again = copy;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(shared->refCount(), 1);
}

}  // namespace
