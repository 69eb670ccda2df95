// A net-log server for the tests: TCP and UDP on 127.0.0.1 (one port number
// for both), recording every request it receives and answering as told.
#ifndef TESSEL_TESTS_FORWARD_NETLOGTESTSERVER_H
#define TESSEL_TESTS_FORWARD_NETLOGTESTSERVER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace forward_test {

enum class Reply {
  kAck,          // a reply carrying the request's number
  kWrongNumber,  // a reply carrying the request's number + 1
  kSilent,       // no reply; the connection stays open
  kClose,        // the connection is closed (TCP; UDP stays silent)
  kOversized,    // a header announcing 600 more bytes (UDP: and the right number, in 200 bytes)
  kShort,        // a reply of 124 bytes, too short for the number
  kOtherPort,    // UDP: the right reply, but sent from another port
};

struct Request {
  bool udp;
  std::vector<unsigned char> bytes;
  std::int32_t Sequence() const;  // the request's sequence number, -1 if too short
};

class NetlogTestServer {
 public:
  NetlogTestServer();
  ~NetlogTestServer();
  NetlogTestServer(const NetlogTestServer&) = delete;
  NetlogTestServer& operator=(const NetlogTestServer&) = delete;

  int port() const { return port_; }
  void SetReply(Reply reply);     // TCP and UDP
  void SetUdpReply(Reply reply);  // UDP alone
  // While refusing, nothing listens: TCP connections are refused and UDP
  // datagrams are answered by the system with "port unreachable".
  void SetRefusing(bool refusing);

  std::vector<Request> Requests();
  std::size_t Count();
  bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout);
  void Clear();

 private:
  struct Client {
    int fd;
    std::vector<unsigned char> pending;
  };
  void Run();
  void OpenSockets();
  void CloseSockets();
  void HandleTcp(Client& client, bool* keep);
  void HandleUdp();
  void Record(bool udp, const unsigned char* data, std::size_t size);
  std::vector<unsigned char> MakeReply(std::int32_t number, bool shortReply) const;

  int port_;
  int listenFd_;
  int udpFd_;
  int otherUdpFd_;
  int wakeFds_[2];
  std::vector<Client> clients_;
  std::thread thread_;

  std::mutex lock_;
  std::condition_variable changed_;
  Reply reply_;
  Reply udpReply_;
  bool refusing_;
  bool stopping_;
  std::vector<Request> requests_;
};

}  // namespace forward_test

#endif
