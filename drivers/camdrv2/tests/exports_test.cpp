// The shared library as a host loads it: by name, resolving each export with dlsym.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "telvane/camdrv_api.h"
#include "telvane/sim/bus.h"
#include "telvane/sim/ver2_device.h"

namespace {

TEST(Camdrv2Library, ExportsTheInterfaceAndNothingInternal) {
  void* library = dlopen(CAMDRV2_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
#define EXPECT_EXPORTED(name, result, params) \
  EXPECT_NE(dlsym(library, #name), nullptr) << #name;
  TELVANE_CAMDRV_COMMON_EXPORTS(EXPECT_EXPORTED)
  TELVANE_CAMDRV2_EXTRA_EXPORTS(EXPECT_EXPORTED)
#undef EXPECT_EXPORTED
  EXPECT_EQ(dlsym(library, "CloseCamera"), nullptr);
  EXPECT_EQ(dlsym(library, "_ZN7telvane7camdrv217LastReadoutResultEv"), nullptr);

  // The library's own state sees the process's one simulated bus.
  telvane::sim::Bus::Instance().Enable(/*attachDefaults=*/false);
  telvane::sim::Bus::Instance().DetachAll();
  telvane::sim::Bus::Instance().Attach(std::make_shared<telvane::sim::Ver2Device>());
  auto checkdevice = reinterpret_cast<camdrv_checkdevice_fn>(dlsym(library, "checkdevice"));
  auto getName = reinterpret_cast<camdrv_GetName_fn>(dlsym(library, "GetName"));
  ASSERT_TRUE(checkdevice && getName);
  EXPECT_EQ(checkdevice(0), 1);
  EXPECT_STREQ(getName(), "3.3 MPix Camera");
  telvane::sim::Bus::Instance().Disable();
  dlclose(library);
}

}  // namespace
