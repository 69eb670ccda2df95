// The exported net-log sender functions: a handle is a NetlogSender.
#include "forward/NLS.h"

#include <ace/ARGV.h>
#include <ace/Get_Opt.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>
#include <string>

#include "forward/NetlogSender.h"
#include "port/Numbers.h"

namespace {

// atoi without undefined behaviour: a value that is not a number is 0, one
// out of range is clamped.
int ToInt(const char* text) { return text == nullptr ? 0 : tessel::port::AtoiText(text); }

void* CreateHandle(const std::string& host, unsigned short port, int strategy, bool connect) {
  NetlogSender* sender = new (std::nothrow) NetlogSender(host, port, strategy);
  if (sender == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  if (connect && sender->Open() != 0) {
    delete sender;
    return nullptr;
  }
  return sender;
}

}  // namespace

void* NLS_init(const char* args, bool connect) {
  std::string host = "localhost";
  int port = 10065;
  int strategy = NetlogSender::kTcpOnly;

  // Words are split with $NAME replaced by the environment's value; there
  // is no program name in front of the options.
  ACE_ARGV words(args != nullptr ? args : "", true);
  ACE_Get_Opt options(words.argc(), words.argv(), "h:p:s:", 0, 0, ACE_Get_Opt::PERMUTE_ARGS);
  for (int option; (option = options()) != EOF;) {
    switch (option) {
      case 'h':
        host = options.opt_arg() != nullptr ? options.opt_arg() : "";
        break;
      case 'p':
        port = ToInt(options.opt_arg());
        break;
      case 's':
        strategy = ToInt(options.opt_arg());
        break;
      default:
        break;  // unknown options and missing values are ignored
    }
  }
  return CreateHandle(host, static_cast<unsigned short>(port), strategy, connect);
}

void* NLS_init2(const char* host, unsigned short port, bool connect) {
  return CreateHandle(host != nullptr ? host : "", port, NetlogSender::kTcpOnly, connect);
}

int NLS_Send(void* handle, netlog_st* netlog) {
  if (handle == nullptr || netlog == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return static_cast<NetlogSender*>(handle)->Send(*netlog);
}

void NLS_fini(void* handle) { delete static_cast<NetlogSender*>(handle); }

CNetLogTransfers& CNetLogTransfers::operator=(const CNetLogTransfers&) { return *this; }
