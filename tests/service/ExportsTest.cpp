// The module's dynamic symbol table. icebox loads other services into the same
// process, so the module exports its entry point and the NLS_* library only:
// any other name could bind to another service's definition, or theirs to ours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>

namespace {

// Collects the demangled names of the symbols `library` defines for the
// dynamic linker, as nm lists them ("<address> <type> <name>"); the result is
// nm's exit status. Absolute symbols (version names) are not definitions.
int ReadExportedNames(const std::string& library, std::set<std::string>* names) {
  FILE* nm = ::popen(("nm -D --defined-only --demangle '" + library + "'").c_str(), "r");
  if (nm == nullptr) return -1;
  char* line = nullptr;
  size_t capacity = 0;
  ssize_t length;
  while ((length = ::getline(&line, &capacity, nm)) > 0) {
    std::string text(line, static_cast<size_t>(length));
    if (text.back() == '\n') text.pop_back();
    const size_t typeAt = text.find(' ') + 1;  // names of templates hold spaces
    if (typeAt == 0 || text.size() < typeAt + 2 || text[typeAt] == 'A') continue;
    names->insert(text.substr(typeAt + 2));
  }
  std::free(line);
  return ::pclose(nm);
}

std::set<std::string> Minus(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::set<std::string> rest;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(rest, rest.end()));
  return rest;
}

}  // namespace

TEST(ExportsTest, ModuleExportsOnlyCreateAndTheNetlogLibrary) {
  const std::string module = std::string(TESSEL_MODULE_DIR) + "/libtesselWriteService.so";
  std::set<std::string> exported;
  ASSERT_EQ(0, ReadExportedNames(module, &exported)) << "nm could not read " << module;

  const std::set<std::string> expected = {
      "create",
      "NLS_init(char const*, bool)",
      "NLS_init2(char const*, unsigned short, bool)",
      "NLS_Send(void*, netlog_st*)",
      "NLS_fini(void*)",
      "CNetLogTransfers::operator=(CNetLogTransfers const&)",
  };
  EXPECT_EQ(std::set<std::string>(), Minus(exported, expected)) << "exported by accident";
  EXPECT_EQ(std::set<std::string>(), Minus(expected, exported)) << "no longer exported";
}
