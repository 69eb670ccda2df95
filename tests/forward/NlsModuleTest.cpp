// Another program's view of the net-log library: it loads the built service
// module at run time and finds the functions under their C++ names.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "NetlogTestServer.h"
#include "forward/NLS.h"

namespace {

typedef void* (*InitFn)(const char*, bool);
typedef void* (*Init2Fn)(const char*, unsigned short, bool);
typedef int (*SendFn)(void*, netlog_st*);
typedef void (*FiniFn)(void*);

template <typename T>
T Find(void* module, const char* name) {
  return reinterpret_cast<T>(dlsym(module, name));
}

}  // namespace

TEST(NlsModuleTest, ProgramLoadsTheModuleAndSends) {
  const std::string path = std::string(TESSEL_MODULE_DIR) + "/libtesselWriteService.so";
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, module) << dlerror();

  InitFn init = Find<InitFn>(module, "_Z8NLS_initPKcb");
  Init2Fn init2 = Find<Init2Fn>(module, "_Z9NLS_init2PKctb");
  SendFn send = Find<SendFn>(module, "_Z8NLS_SendPvP9netlog_st");
  FiniFn fini = Find<FiniFn>(module, "_Z8NLS_finiPv");
  ASSERT_TRUE(init && init2 && send && fini);
  EXPECT_NE(nullptr, dlsym(module, "_ZN16CNetLogTransfersaSERKS_"));

  forward_test::NetlogTestServer server;
  netlog_st record;
  std::memset(&record, 0, sizeof record);
  std::memcpy(record.tag, "11", 2);
  char account[] = "someone";
  record.items[0].data = account;
  record.items[0].length = 7;

  void* handle = init2("127.0.0.1", static_cast<unsigned short>(server.port()), true);
  ASSERT_NE(nullptr, handle);
  EXPECT_EQ(0, send(handle, &record));
  EXPECT_EQ(0, send(handle, &record));
  fini(handle);

  handle = init(("-h 127.0.0.1 -s 1 -p " + std::to_string(server.port())).c_str(), false);
  ASSERT_NE(nullptr, handle);
  EXPECT_EQ(0, send(handle, &record));
  fini(handle);

  std::vector<forward_test::Request> requests = server.Requests();
  ASSERT_EQ(3u, requests.size());
  EXPECT_EQ(0, requests[0].Sequence());
  EXPECT_EQ(1, requests[1].Sequence());
  EXPECT_TRUE(requests[2].udp);
  ASSERT_EQ(194u + 5 + 7, requests[0].bytes.size());
  EXPECT_EQ(0, std::memcmp(&requests[0].bytes[199], "someone", 7));

  errno = 0;
  EXPECT_EQ(-1, send(nullptr, &record));
  EXPECT_EQ(EINVAL, errno);
  fini(nullptr);
  dlclose(module);
}
