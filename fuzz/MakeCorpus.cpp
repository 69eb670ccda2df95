// Writes the seed corpus of every fuzz target: inputs made the way the
// service, its tools and its peers make them (records built field by field,
// the sink's reply, the sample netbarcfg.ini, a store and a journal written
// by their own classes, a request built by the sender), laid out as each
// target reads its input. Files of other names (regression inputs) are kept.
//
//   fuzz_corpus --make-corpus <corpus dir> <sample netbarcfg.ini>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "NetlogPacket.h"
#include "RecordExport.h"
#include "forward/NetlogConvert.h"
#include "forward/NetlogWire.h"
#include "lists/IntakeJournal.h"
#include "lists/KeywordStore.h"
#include "port/Coding.h"
#include "record/ProgressFile.h"

namespace rec = tessel::rec;

namespace {

const int kLogon = 1796688000 + 9 * 3600;  // 2026-12-08 09:00 UTC
const unsigned kIp = 3232235786u;         // 192.168.1.10
const std::string kPrefix = "4401020001_3232235786_" + std::to_string(kLogon) + "_";

VirtualIdRecord ImRecord(const std::string& prefix, int type, const std::string& account,
                         int begin, int end, int status) {
  VirtualIdRecord record;
  record.SetText(rec::kPrefix, rec::kPrefixWidth, prefix);
  record.SetInt(rec::kInfoType, type);
  record.SetText(rec::kAccount, rec::kAccountWidth, account);
  record.SetInt(rec::kBeginTime, begin);
  record.SetInt(rec::kEndTime, end);
  record.SetInt(rec::kImStatus, status);
  return record;
}

VirtualIdRecord SeatRecord(const std::string& prefix, const std::string& account, int logon,
                           int logoff, unsigned ip) {
  VirtualIdRecord record;
  record.SetText(rec::kPrefix, rec::kPrefixWidth, prefix);
  record.SetInt(rec::kInfoType, rec::kSeatInfoType);
  record.SetText(rec::kAccount, rec::kSeatAccountWidth, account);
  record.SetText(rec::kDetail1, 30, "\xd5\xc5\xc8\xfd");  // a GBK name
  record.SetText(rec::kDetail2, 30, "440101199001011234");
  record.SetInt(rec::kLogonTime, logon);
  record.SetInt(rec::kLogoffTime, logoff);
  record.SetInt(rec::kClientIp, static_cast<std::int32_t>(ip));
  return record;
}

std::string Bytes(const VirtualIdRecord& record) {
  return std::string(reinterpret_cast<const char*>(record.bytes), rec::kSize);
}

std::string Le32(std::uint32_t value) {
  unsigned char bytes[4];
  tessel::port::EncodeFixed32LE(bytes, value);
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string Le16(std::size_t value) { return Le32(static_cast<std::uint32_t>(value)).substr(0, 2); }

std::string Text(const std::vector<unsigned char>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

const VirtualIdRecord kSeatOn = SeatRecord(kPrefix, "zhangsan", kLogon, 0, kIp);
const VirtualIdRecord kSeatOff = SeatRecord(kPrefix, "zhangsan", kLogon, kLogon + 7200, kIp);
const VirtualIdRecord kQqOn = ImRecord(kPrefix, 1001, "12345678", kLogon + 60, 0, 0);
const VirtualIdRecord kQqOff = ImRecord(kPrefix, 1001, "12345678", kLogon + 60, kLogon + 3600, 1);
const VirtualIdRecord kInfo = ImRecord(kPrefix, 2, "mail@example.com", kLogon + 120, kLogon + 180, 0);

class Corpus {
 public:
  explicit Corpus(const std::string& root) : root_(root) {}
  void Add(const std::string& target, const std::string& name, const std::string& content) {
    fuzz::MakeDir(root_ + "/" + target);
    fuzz::WriteFile(root_ + "/" + target + "/" + name, content);
  }

 private:
  std::string root_;
};

// Servant calls: a sequence as a whole record, and the integer arguments.
std::string Seq(const VirtualIdRecord& record) { return std::string(1, '\0') + Bytes(record); }
std::string Ints(int a, int b, int c) { return Le32(a) + Le32(b) + Le32(c); }

void Servant(Corpus& c) {
  const int loopback = 0x0100007F;
  c.Add("servant", "seat-day",
        '\0' + Seq(kSeatOn) + '\1' + Seq(kQqOn) + '\5' + '\2' + Seq(kQqOff) +
            '\3' + Ints(static_cast<int>(kIp), kLogon, kLogon + 7200) + Seq(kSeatOff));
  c.Add("servant", "accounts-off",
        '\1' + Seq(kQqOn) + '\0' + Seq(kInfo) + '\4' + Ints(loopback, kLogon + 600, 7) + '\5');
  c.Add("servant", "odd-sizes",
        std::string("\0\x80\x0a\x00", 4) + "0123456789" + std::string("\1\x80\x00\x00", 4) + '\5');
}

void Reply(Corpus& c) {
  const std::string ack = Text(netlog::BuildReply(5));
  c.Add("netlog_reply", "tcp-ack", '\0' + Le32(5) + ack);
  c.Add("netlog_reply", "udp-ack", '\1' + Le32(5) + ack);
  c.Add("netlog_reply", "tcp-wrong-number", '\0' + Le32(4) + ack);
  c.Add("netlog_reply", "tcp-cut-short", '\0' + Le32(5) + ack.substr(0, 150));
  c.Add("netlog_reply", "udp-too-short", '\1' + Le32(5) + ack.substr(0, 166));
}

void Profile(Corpus& c, const std::string& sample) {
  c.Add("profile", "sample", fuzz::ReadFile(sample));
  c.Add("profile", "two-servers",
        "[P2PVIRTUALID]\r\nAddrCount=2\r\nServerAddr_0=10.1.2.3\r\nServerPort_0=8000\r\n"
        "OffSet_0=-1        ; at the start of today's day file\r\n  ServerAddr_1 = \"10.1.2.4\"\r\n"
        "ServerPort_1=8000\r\nIsOverdue_1=1\r\n[Other]\r\nAddrCount=9\r\n");
}

void Keywords(Corpus& c) {
  const std::string dir = fuzz::ScratchDir() + "store/";
  fuzz::MakeDir(dir);
  const std::string path = dir + "virtualdb.db";
  const std::string base = "4401020001_3232235786_" + std::to_string(kLogon);
  tessel::KeywordStore store(tessel::port::Env::Default(), path);
  store.Append({base + "_900_zhangsan_0_1", base + "_1001_12345678_" + std::to_string(kLogon + 60) + "_1"});
  store.Append({base + "_2_mail@example.com_0_1"});
  const std::string written = fuzz::ReadFile(path);
  c.Add("keyword_store", "three-and-two-more",
        Le16(written.size()) + written + "\x05" "3232235787_900_lisi_0_1\n\x10" "3232235788_1001_888_0_1");
  const std::string expired = "4401020001_3232235786_1796000000_900_old_0_1";
  const std::string damaged = written + expired + std::string(132 - expired.size(), '\0') + "torn";
  c.Add("keyword_store", "expired-and-torn", Le16(damaged.size()) + damaged);
  c.Add("keyword_store", "empty", Le16(0) + "\x01" "10.0.0.1_900_a_0_1");
}

void Journal(Corpus& c) {
  const std::string dir = fuzz::ScratchDir() + "journal/";
  tessel::IntakeJournal journal(tessel::port::Env::Default(), dir);
  std::vector<VirtualIdRecord> none;
  journal.Open(&none);
  journal.Append(kSeatOn);
  journal.Append(kQqOn);
  journal.Take();  // the next appends go to the other file
  journal.Append(kQqOff);
  const std::string first = fuzz::ReadFile(tessel::IntakeJournal::FileName(dir, 0));
  const std::string second = fuzz::ReadFile(tessel::IntakeJournal::FileName(dir, 1));
  c.Add("intake_journal", "both-files", Le16(first.size()) + first + second);
  c.Add("intake_journal", "torn-tail", Le16(first.size() - 700) + first.substr(0, first.size() - 700));
}

void Progress(Corpus& c) {
  unsigned char bytes[tessel::kProgressSize];
  tessel::Progress progress;
  progress.day = 1796688000;
  progress.offset = 3 * 1247;
  tessel::EncodeProgress(progress, bytes);
  c.Add("progress", "three-records", std::string(reinterpret_cast<char*>(bytes), sizeof bytes));
  progress.offset = 2 * 1247 + 100;
  tessel::EncodeProgress(progress, bytes);
  c.Add("progress", "inside-a-record", std::string(reinterpret_cast<char*>(bytes), sizeof bytes));
  c.Add("progress", "short", std::string(reinterpret_cast<char*>(bytes), 5));
}

void Requests(Corpus& c) {
  struct Case {
    const char* name;
    VirtualIdRecord record;
    int flag;
  };
  VirtualIdRecord web = ImRecord(kPrefix, 10001, "user", kLogon, kLogon + 5, 0);
  web.SetText(396, 30, "www.example.com");
  web.SetText(426, 30, "/index.html");
  const Case cases[] = {{"seat-on", kSeatOn, 1}, {"seat-off", kSeatOff, 0},
                        {"qq-on", kQqOn, 1},     {"info-2", kInfo, 1},
                        {"web-10001", web, 1}};
  int sequence = 0;
  for (const Case& k : cases) {
    c.Add("netlog_request", k.name, Le32(k.flag) + Le32(sequence++) + Bytes(k.record));
    netlog_st n;
    tessel::NetlogItemTexts texts;
    tessel::ConvertRecordToNetlog(k.record, k.flag, &n, &texts);
    unsigned char packet[tessel::netlog_wire::kMaxRequestSize];
    const std::size_t length = tessel::netlog_wire::BuildRequest(n, sequence, packet);
    c.Add("netlog_decode", k.name, std::string(reinterpret_cast<char*>(packet), length));
  }
}

void Exports(Corpus& c) {
  const std::string unit = "4401020001";
  c.Add("export_line", "seat", std::string(1, static_cast<char>(unit.size())) + unit + Bytes(kSeatOn));
  c.Add("export_line", "qq-tab-in-account",
        std::string(1, static_cast<char>(unit.size())) + unit +
            Bytes(ImRecord(kPrefix, 1001, "a\tb\r\nc", kLogon, 0, 0)));
  const std::string path = fuzz::ScratchDir() + "line.ria";
  tagSepExporttoFile(path.c_str(), unit.c_str(), "44", "01020001", kQqOff.bytes, rec::kSize);
  c.Add("export_line", "written-line", fuzz::ReadFile(path));
}

void RiaBase(Corpus& c) {
  c.Add("riabase", "two-records", Bytes(kSeatOn) + Bytes(kQqOn));
  c.Add("riabase", "record-and-a-part", Bytes(kQqOff) + Bytes(kInfo).substr(0, 300));
  c.Add("riabase", "empty", "");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::strcmp(argv[1], "--make-corpus") != 0) {
    std::fprintf(stderr, "usage: %s --make-corpus <corpus dir> <sample netbarcfg.ini>\n", argv[0]);
    return 2;
  }
  Corpus corpus(argv[2]);
  Servant(corpus);
  Reply(corpus);
  Profile(corpus, argv[3]);
  Keywords(corpus);
  Journal(corpus);
  Progress(corpus);
  Requests(corpus);
  Exports(corpus);
  RiaBase(corpus);
  return 0;
}
