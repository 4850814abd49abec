#include "core/Format.h"

#include <cstdio>
#include <string>

#include "core/Exception.h"
#include "platform/NumberText.h"
#include "platform/Utf.h"

namespace zo {

namespace {

struct Spec {
  bool left = false;
  bool zero = false;
  int width = -1;
  int precision = -1;
  char16_t conversion = 0;
};

[[noreturn]] void Fail(StringView format, const char* why) {
  throw EFormatError(u"Format '" + String(format) + u"' invalid or incompatible with argument" +
                     (why[0] ? u" (" + FromUtf8(why) + u")" : String()));
}

// Renders one conversion through snprintf, which owns the printf rules.
std::string Render(const Spec& spec, const FormatArg& arg, StringView format) {
  std::string pattern = "%";
  if (spec.left) pattern += '-';
  if (spec.zero) pattern += '0';
  if (spec.width >= 0) pattern += std::to_string(spec.width);
  if (spec.precision >= 0) pattern += '.' + std::to_string(spec.precision);

  const auto& v = arg.Value();
  char buf[512];
  int n = 0;
  switch (spec.conversion) {
    case u'd':
    case u'u':
    case u'x':
    case u'X': {
      if (std::holds_alternative<std::int64_t>(v)) {
        const std::int64_t i = std::get<std::int64_t>(v);
        const char c = static_cast<char>(spec.conversion == u'u' ? 'd' : spec.conversion);
        // Hexadecimal of a negative 32-bit value shows its 32 bits, as the
        // system's messages expect of native error numbers.
        if ((c == 'x' || c == 'X') && i < 0 && i >= INT32_MIN) {
          n = std::snprintf(buf, sizeof buf, (pattern + c).c_str(), static_cast<unsigned>(static_cast<std::uint32_t>(i)));
        } else {
          n = std::snprintf(buf, sizeof buf, (pattern + "ll" + c).c_str(), static_cast<long long>(i));
        }
      } else if (std::holds_alternative<std::uint64_t>(v)) {
        const char c = static_cast<char>(spec.conversion == u'd' ? 'u' : spec.conversion);
        n = std::snprintf(buf, sizeof buf, (pattern + "ll" + c).c_str(),
                          static_cast<unsigned long long>(std::get<std::uint64_t>(v)));
      } else {
        Fail(format, "integer expected");
      }
      break;
    }
    case u'f':
    case u'e':
    case u'g': {
      double d;
      if (std::holds_alternative<double>(v)) d = std::get<double>(v);
      else if (std::holds_alternative<std::int64_t>(v)) d = static_cast<double>(std::get<std::int64_t>(v));
      else if (std::holds_alternative<std::uint64_t>(v)) d = static_cast<double>(std::get<std::uint64_t>(v));
      else Fail(format, "number expected");
      n = FormatDoubleC(buf, sizeof buf, (pattern + static_cast<char>(spec.conversion)).c_str(), d);
      break;
    }
    default:
      Fail(format, "unknown conversion");
  }
  if (n < 0 || n >= static_cast<int>(sizeof buf)) Fail(format, "value too long");
  return std::string(buf, static_cast<size_t>(n));
}

String Pad(String text, const Spec& spec) {
  if (spec.width > 0 && static_cast<int>(text.size()) < spec.width) {
    const String fill(static_cast<size_t>(spec.width) - text.size(), u' ');
    text = spec.left ? text + fill : fill + text;
  }
  return text;
}

}  // namespace

String Format(StringView format, std::initializer_list<FormatArg> args) {
  String out;
  out.reserve(format.size() + 16);
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    const char16_t c = format[i];
    if (c != u'%') {
      out += c;
      continue;
    }
    if (++i >= format.size()) Fail(format, "ends after '%'");
    if (format[i] == u'%') {
      out += u'%';
      continue;
    }
    Spec spec;
    for (; i < format.size() && (format[i] == u'-' || format[i] == u'0'); ++i) {
      if (format[i] == u'-') spec.left = true;
      else spec.zero = true;
    }
    auto readNumber = [&](int& into) {
      if (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
        into = 0;
        while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
          if (into > 10000) Fail(format, "width too large");
          into = into * 10 + (format[i++] - u'0');
        }
      }
    };
    readNumber(spec.width);
    if (i < format.size() && format[i] == u'.') {
      ++i;
      spec.precision = 0;
      readNumber(spec.precision);
    }
    if (i >= format.size()) Fail(format, "incomplete conversion");
    spec.conversion = format[i];
    if (next == args.end()) Fail(format, "missing argument");
    const FormatArg& arg = *next++;
    const auto& v = arg.Value();
    if (spec.conversion == u's') {
      String text;
      if (std::holds_alternative<String>(v)) text = std::get<String>(v);
      else if (std::holds_alternative<std::int64_t>(v)) text = AsciiToString(std::to_string(std::get<std::int64_t>(v)));
      else if (std::holds_alternative<std::uint64_t>(v)) text = AsciiToString(std::to_string(std::get<std::uint64_t>(v)));
      else Fail(format, "text expected");
      if (spec.precision >= 0 && text.size() > static_cast<size_t>(spec.precision)) text.resize(static_cast<size_t>(spec.precision));
      out += Pad(std::move(text), spec);
    } else if (spec.conversion == u'c') {
      if (!std::holds_alternative<String>(v) || std::get<String>(v).size() != 1) Fail(format, "character expected");
      out += Pad(std::get<String>(v), spec);
    } else {
      const std::string rendered = Render(spec, arg, format);
      out += AsciiToString(rendered);
    }
  }
  return out;
}

}  // namespace zo
