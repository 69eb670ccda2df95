// Texts that the service prints, logs or raises in Chinese. Sites read them
// as GBK (code page 936), so they are kept here as escaped GBK bytes, the one
// place in the sources that holds non-ASCII text. The UTF-8 reading of each
// is given beside it.
#ifndef TESSEL_COMMON_GBKTEXTS_H
#define TESSEL_COMMON_GBKTEXTS_H

namespace tessel::gbk {

// 情报提取获取网吧编号失败 (the site's unit identity could not be obtained)
inline constexpr char kUnitIdentityQueryFailed[] = "\xc7\xe9\xb1\xa8\xcc\xe1\xc8\xa1\xbb\xf1\xc8\xa1\xcd\xf8\xb0\xc9\xb1\xe0\xba\xc5\xca\xa7\xb0\xdc";

// 虚拟人口库写日志服务初始化内存环境失败  (with its trailing blank: the
// log-writing service failed to initialise its site environment)
inline constexpr char kSiteEnvInitFailed[] = "\xd0\xe9\xc4\xe2\xc8\xcb\xbf\xda\xbf\xe2\xd0\xb4\xc8\xd5\xd6\xbe\xb7\xfe\xce\xf1\xb3\xf5\xca\xbc\xbb\xaf\xc4\xda\xb4\xe6\xbb\xb7\xbe\xb3\xca\xa7\xb0\xdc ";
// The same text in UTF-8 (without the blank), for logs that take UTF-8 only
// (the systemd journal shows a line with GBK bytes as a blob).
inline constexpr char kSiteEnvInitFailedUtf8[] = "\xe8\x99\x9a\xe6\x8b\x9f\xe4\xba\xba\xe5\x8f\xa3\xe5\xba\x93\xe5\x86\x99\xe6\x97\xa5\xe5\xbf\x97\xe6\x9c\x8d\xe5\x8a\xa1\xe5\x88\x9d\xe5\xa7\x8b\xe5\x8c\x96\xe5\x86\x85\xe5\xad\x98\xe7\x8e\xaf\xe5\xa2\x83\xe5\xa4\xb1\xe8\xb4\xa5";

// 上机时间 (log-on time)
inline constexpr char kLogonTimeWord[] = "\xc9\xcf\xbb\xfa\xca\xb1\xbc\xe4";

// 下机时间 (log-off time)
inline constexpr char kLogoffTimeWord[] = "\xcf\xc2\xbb\xfa\xca\xb1\xbc\xe4";

// 无法连接TCP 服务器.\r\n (cannot connect to the TCP server)
inline constexpr char kCannotConnectTcp[] = "\xce\xde\xb7\xa8\xc1\xac\xbd\xd3TCP \xb7\xfe\xce\xf1\xc6\xf7.\r\n";

// 从TCP服务器收到的回应号(%d)和发送号(%d)不一致.\r\n
// (the response number from the TCP server differs from the send number)
inline constexpr char kTcpResponseMismatch[] = "\xb4\xd3TCP\xb7\xfe\xce\xf1\xc6\xf7\xca\xd5\xb5\xbd\xb5\xc4\xbb\xd8\xd3\xa6\xba\xc5(%d)\xba\xcd\xb7\xa2\xcb\xcd\xba\xc5(%d)\xb2\xbb\xd2\xbb\xd6\xc2.\r\n";

// 接收到来自%s:%d的回应包，服务器地址实际为%s:%d.\r\n
// (a reply came from %s:%d, but the server address is %s:%d)
inline constexpr char kUdpReplyFromOther[] = "\xbd\xd3\xca\xd5\xb5\xbd\xc0\xb4\xd7\xd4%s:%d\xb5\xc4\xbb\xd8\xd3\xa6\xb0\xfc\xa3\xac\xb7\xfe\xce\xf1\xc6\xf7\xb5\xd8\xd6\xb7\xca\xb5\xbc\xca\xce\xaa%s:%d.\r\n";

// 从UDP服务器收到的回应号(%d)和发送号(%d)不一致.\r\n
// (the response number from the UDP server differs from the send number)
inline constexpr char kUdpResponseMismatch[] = "\xb4\xd3UDP\xb7\xfe\xce\xf1\xc6\xf7\xca\xd5\xb5\xbd\xb5\xc4\xbb\xd8\xd3\xa6\xba\xc5(%d)\xba\xcd\xb7\xa2\xcb\xcd\xba\xc5(%d)\xb2\xbb\xd2\xbb\xd6\xc2.\r\n";

}  // namespace tessel::gbk

#endif
