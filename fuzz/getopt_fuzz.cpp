// The option parser on argument vectors, option strings and long-option tables
// built from the input, through all three entry points, scanning to the end and
// once more without a reset. Checked after every call: optind stays within the
// vector, the vector is still a permutation of its original pointers (with its
// null entry in place), optarg is null after a failure and otherwise points into
// an element, the long index and flag agree with the result, and every scan ends.
//
// Input: byte 0 chooses the entry point and the state (see kControl bits), then
// fields separated by '\n': the option string, the long-option table (entries
// separated by ',', each "<has_arg digit><'f' for a flag pointer><val byte><name>",
// the val byte 0xFF standing for -1),
// and the elements of the vector after argv[0].
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "getopt.h"
#include "getopt_internal.h"

namespace {

constexpr size_t kMaxElements = 32;
constexpr size_t kMaxLongOptions = 16;

struct Setup {
  int entry;  // 0 _getopt, 1 _getopt_long, 2 _getopt_long_only
  std::string options;
  bool null_options;
  std::vector<std::string> names;
  std::vector<vornopt::option> table;  // ends with a null entry when used
  bool null_table;
  bool null_idx;
  std::vector<std::string> elements;  // argv[0] included
};

std::vector<std::string> split(const uint8_t* data, size_t size, char sep) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; i++) {
    if (static_cast<char>(data[i]) == sep) {
      parts.emplace_back();
    } else {
      parts.back().push_back(static_cast<char>(data[i]));
    }
  }
  return parts;
}

int flag_target = 0;

Setup parse(const uint8_t* data, size_t size) {
  Setup s;
  uint8_t control = size > 0 ? data[0] : 0;
  s.entry = (control & 3) % 3;
  vornopt::posixly_correct = (control >> 2) & 1;
  vornopt::opterr = (control >> 3) & 1;
  if (control & 16) {
    vornopt::optind = 1;
    vornopt::optreset = 1;
  } else {
    vornopt::optind = 0;
  }
  s.null_options = (control & 32) != 0 && (control & 3) == 3;
  // A null option string changes nothing, optarg included: it must not keep a
  // pointer into the previous input's vector.
  vornopt::optarg = nullptr;
  s.null_table = (control & 64) != 0;
  s.null_idx = (control & 128) != 0;

  std::vector<std::string> fields = split(size > 0 ? data + 1 : data, size > 0 ? size - 1 : 0, '\n');
  // Left out of the option string: '?', whose success would look like a
  // failure, and the byte 0xFF, whose success returns its signed value -1 and
  // so looks like the end of the scan.
  for (char c : fields[0]) {
    if (c != '?' && c != '\xff') s.options.push_back(c);
  }
  if (fields.size() > 1) {
    for (const std::string& entry : split(reinterpret_cast<const uint8_t*>(fields[1].data()), fields[1].size(), ',')) {
      if (entry.size() < 3 || s.names.size() == kMaxLongOptions) continue;
      s.names.push_back(entry.substr(3));
      int val = static_cast<unsigned char>(entry[2]);
      if (val == '?' || val == ':') val += 256;  // failures keep their own results
      if (val == 0xFF) val = -1;                 // a match that returns what the end of the scan returns
      s.table.push_back(
          {nullptr, static_cast<signed char>(entry[0]) - '0', entry[1] == 'f' ? &flag_target : nullptr, val});
    }
  }
  for (size_t i = 0; i < s.table.size(); i++) s.table[i].name = s.names[i].c_str();
  s.table.push_back({nullptr, 0, nullptr, 0});
  s.elements.push_back("prog");
  for (size_t i = 2; i < fields.size() && s.elements.size() <= kMaxElements; i++) s.elements.push_back(fields[i]);
  return s;
}

// optarg, when set, points into one of the elements (their terminators included).
bool pointsIntoAnElement(const char* p, const std::vector<std::string>& elements) {
  for (const std::string& e : elements) {
    if (p >= e.c_str() && p <= e.c_str() + std::strlen(e.c_str())) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The parser's messages are formatted as usual but not shown: the stdio stream
  // goes to /dev/null, while descriptor 2 stays for the fuzzer's own reports.
  if (FILE* quiet = std::fopen("/dev/null", "w")) stderr = quiet;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Setup s = parse(data, size);
  const int nargc = static_cast<int>(s.elements.size());
  std::vector<char*> argv;
  for (std::string& e : s.elements) argv.push_back(e.data());
  argv.push_back(nullptr);
  std::vector<char*> original(argv.begin(), argv.end() - 1);
  std::sort(original.begin(), original.end());

  const char* options = s.null_options ? nullptr : s.options.c_str();
  const vornopt::option* table = s.null_table ? nullptr : s.table.data();
  size_t chars = 0;
  for (const std::string& e : s.elements) chars += e.size();
  // Each call consumes at least one character or one element.
  const size_t max_calls = chars + static_cast<size_t>(nargc) + 2;

  for (int scan = 0; scan < 2; scan++) {
    size_t calls = 0;
    for (;;) {
      FUZZ_CHECK(++calls <= max_calls);
      const int optind_before = vornopt::optind;
      int idx = -2;
      flag_target = 0;
      int result;
      switch (s.entry) {
        case 0:
          result = vornopt::_getopt(nargc, argv.data(), options);
          break;
        case 1:
          result = vornopt::_getopt_long(nargc, argv.data(), options, table, s.null_idx ? nullptr : &idx);
          break;
        default:
          result = vornopt::_getopt_long_only(nargc, argv.data(), options, table, s.null_idx ? nullptr : &idx);
          break;
      }

      FUZZ_CHECK(vornopt::optind >= 0 && vornopt::optind <= nargc);
      if (options == nullptr) FUZZ_CHECK(result == -1 && vornopt::optind == optind_before);
      FUZZ_CHECK(argv[nargc] == nullptr);
      std::vector<char*> now(argv.begin(), argv.end() - 1);
      std::sort(now.begin(), now.end());
      FUZZ_CHECK(now == original);
      if (result == '?' || result == ':') FUZZ_CHECK(vornopt::optarg == nullptr);
      if (vornopt::optarg != nullptr) FUZZ_CHECK(pointsIntoAnElement(vornopt::optarg, s.elements));
      if (idx != -2) {
        // Written only after a successful long match, with that entry's index.
        FUZZ_CHECK(idx >= 0 && static_cast<size_t>(idx) + 1 < s.table.size());
        const vornopt::option& o = s.table[static_cast<size_t>(idx)];
        FUZZ_CHECK(result == (o.flag != nullptr ? 0 : o.val));
        if (o.flag != nullptr) FUZZ_CHECK(flag_target == o.val);
      }
      if (result == -1) break;
    }
  }
  return 0;
}
