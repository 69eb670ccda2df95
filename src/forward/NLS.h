// The net-log sender library: other programs that load the service module
// send single net-log records upstream through these functions, with the same
// request/acknowledge protocol the service's own forwarding uses.
//
// This header stands on its own (no other header of the service is needed),
// so a program can include it as it is.
#ifndef TESSEL_FORWARD_NLS_H
#define TESSEL_FORWARD_NLS_H

#include <stdint.h>

#if defined(_WIN32)
#define NLS_API __declspec(dllexport)
#else
#define NLS_API __attribute__((visibility("default")))
#endif

#pragma pack(push, 1)

// One variable item of a net-log record: `length` bytes at `data` (no
// terminating zero is sent). An item whose length is 0 is not sent.
struct netlog_item {
  char* data;
  uint8_t length;
};

// One net-log record, byte-packed, integers in host byte order. Fields
// marked "as is" go onto the wire unchanged; the other integers are sent in
// network byte order.
struct netlog_st {
  char tag[2];            // as is
  char code[12];          // as is
  uint32_t num1;
  uint32_t num2;
  char text[20];          // as is
  uint32_t addr1;         // as is: an IPv4 address in network byte order
  uint16_t port1;         // as is: a port in network byte order
  uint32_t num3;
  uint32_t num4;
  uint32_t num5;
  uint32_t addr2;         // as is
  uint16_t port2;         // as is
  char type_code[5];      // as is: "%04d" of the record type and a zero byte
  int32_t logon_time;     // seconds since 1970
  uint8_t online_flag;    // 1 log-on, 0 log-off
  int32_t event_time;     // seconds since 1970
  netlog_item items[7];   // item i goes out as item type i + 1
};

#pragma pack(pop)

// Creates a handle from a command-line style option string: -h host
// (default "localhost"), -p port (default 10065), -s strategy (default 2:
// TCP; 1 UDP; 3 UDP then TCP; 4 TCP then UDP). Words such as $NAME are
// replaced by the environment variable's value. With `connect` the
// transport is opened at once and a failure gives null. Null also when
// memory runs out (errno ENOMEM).
NLS_API void* NLS_init(const char* args, bool connect);

// The same with host and port given directly and strategy 2.
NLS_API void* NLS_init2(const char* host, unsigned short port, bool connect);

// Sends one record and waits for the server's acknowledgement: 0 when this
// record was acknowledged, -1 otherwise (a null handle sets errno EINVAL).
NLS_API int NLS_Send(void* handle, netlog_st* netlog);

// Closes the handle's connections and releases it; null is ignored.
NLS_API void NLS_fini(void* handle);

// Kept exported for programs built against earlier releases of the library;
// it carries no data.
class NLS_API CNetLogTransfers {
 public:
  CNetLogTransfers& operator=(const CNetLogTransfers& other);
};

#endif
