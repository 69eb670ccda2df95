// netlog-sink: a reference upstream net-log server for trying a site.
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "SinkServer.h"
#include "TextOut.h"
#include "common/Version.h"

namespace {

const char kUsage[] =
    "usage: netlog-sink [options]\n"
    "\n"
    "Listens for net-log requests on TCP and UDP, acknowledges them by the\n"
    "protocol, and prints one line per record (texts shown as UTF-8, control\n"
    "characters and bytes that are not GBK text as \\xNN).\n"
    "\n"
    "options:\n"
    "  --host A.B.C.D     address to listen on (default 127.0.0.1)\n"
    "  --port P           port for TCP and UDP (default 10065; 0 picks a free one)\n"
    "  --port-file F      write the port listened on to F once listening\n"
    "  --json             print JSON lines instead of text lines\n"
    "  --out F            append the lines to F instead of standard output\n"
    "  --mode M           ack (default): answer with the request's number;\n"
    "                     wrong: answer with another number; silent: never\n"
    "                     answer; close: close the connection unanswered\n"
    "  --no-udp           TCP only\n"
    "  --count N          exit after N records\n"
    "  --version          the version\n"
    "  -h, --help         this text\n";

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

bool ParsePort(const char* text, int* port) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 0 || v > 65535) return false;
  *port = static_cast<int>(v);
  return true;
}

int Fail(const std::string& message) {
  std::cerr << "netlog-sink: " << textout::Printable(message) << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1", portFile, outPath;
  int port = 10065;
  bool json = false, udp = true;
  long count = -1;
  netlog::ReplyMode mode = netlog::ReplyMode::kAcknowledge;
  static const option longOptions[] = {
      {"host", required_argument, nullptr, 'H'}, {"port", required_argument, nullptr, 'p'},
      {"port-file", required_argument, nullptr, 'f'}, {"json", no_argument, nullptr, 'j'},
      {"out", required_argument, nullptr, 'o'},  {"mode", required_argument, nullptr, 'm'},
      {"no-udp", no_argument, nullptr, 'U'},     {"count", required_argument, nullptr, 'c'},
      {"help", no_argument, nullptr, 'h'},       {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "h", longOptions, nullptr)) != -1) {
    switch (c) {
      case 'H': host = optarg; break;
      case 'p': if (!ParsePort(optarg, &port)) return Fail("--port wants 0..65535"); break;
      case 'f': portFile = optarg; break;
      case 'j': json = true; break;
      case 'o': outPath = optarg; break;
      case 'U': udp = false; break;
      case 'c': {
        char* end = nullptr;
        count = std::strtol(optarg, &end, 10);
        if (end == optarg || *end != '\0' || count <= 0) return Fail("--count wants a positive number");
        break;
      }
      case 'm': {
        const std::string m = optarg;
        if (m == "ack") mode = netlog::ReplyMode::kAcknowledge;
        else if (m == "wrong") mode = netlog::ReplyMode::kWrongNumber;
        else if (m == "silent") mode = netlog::ReplyMode::kSilent;
        else if (m == "close") mode = netlog::ReplyMode::kClose;
        else return Fail("--mode wants ack, wrong, silent or close");
        break;
      }
      case 'h': std::cout << kUsage; return 0;
      case 'V': std::cout << "netlog-sink " << tessel::Version() << "\n"; return 0;
      default: std::cerr << kUsage; return 2;
    }
  }
  if (optind < argc) return Fail(std::string("unexpected argument '") + argv[optind] + "'");

  std::ofstream file;
  if (!outPath.empty()) {
    file.open(outPath, std::ios::app);
    if (!file) return Fail("cannot open " + outPath);
  }
  std::ostream& out = outPath.empty() ? std::cout : file;
  long seen = 0;
  netlog::SinkServer server(host, port, mode, udp,
                            [&](const netlog::Request& request, const std::string& transport) {
                              out << (json ? netlog::DescribeJson(request, transport)
                                           : netlog::DescribeText(request, transport))
                                  << std::endl;
                              if (count > 0 && ++seen >= count) g_stop = 1;
                            });
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  if (!server.Start()) return 1;
  if (!portFile.empty()) {
    std::ofstream pf(portFile + ".tmp");
    pf << server.port() << "\n";
    pf.close();
    if (std::rename((portFile + ".tmp").c_str(), portFile.c_str()) != 0)
      return Fail("cannot write " + portFile);
  }
  std::cerr << "netlog-sink: listening on " << textout::Printable(host) << ":" << server.port()
            << (udp ? " (tcp and udp)" : " (tcp)") << "\n";
  while (!g_stop) ::usleep(50 * 1000);
  server.Stop();
  return 0;
}
