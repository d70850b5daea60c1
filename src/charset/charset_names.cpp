// Charset labels of mail and their canonical names; the one-shot forms of
// CharsetConverter. Shared by both backends.
#include <array>
#include <string>

#include "charset/charset_convert.h"
#include "platform/ascii_case.h"

namespace zel {
namespace {

struct Alias {
  std::string_view label;      // as mail writes it (compared without case)
  std::string_view canonical;  // the name the backends know
};

// Labels seen in mail beside the registered names: aliases of the IANA
// charset registry and the names mail programs actually write.
constexpr std::array kAliases = {
    Alias{"utf-8", "UTF-8"},           Alias{"utf8", "UTF-8"},
    Alias{"us-ascii", "US-ASCII"},     Alias{"ascii", "US-ASCII"},
    Alias{"ansi_x3.4-1968", "US-ASCII"}, Alias{"iso646-us", "US-ASCII"},
    Alias{"iso-2022-jp", "ISO-2022-JP"}, Alias{"csiso2022jp", "ISO-2022-JP"},
    Alias{"iso-2022-jp-1", "ISO-2022-JP"}, Alias{"iso-2022-jp-ms", "ISO-2022-JP"},
    Alias{"cp50220", "ISO-2022-JP"},   Alias{"cp50221", "ISO-2022-JP"},
    Alias{"cp50222", "ISO-2022-JP"},   Alias{"iso-2022-jp-2", "ISO-2022-JP-2"},
    Alias{"iso-2022-jp-3", "ISO-2022-JP-3"},
    Alias{"shift_jis", "CP932"},       Alias{"shift-jis", "CP932"},
    Alias{"sjis", "CP932"},            Alias{"x-sjis", "CP932"},
    Alias{"ms_kanji", "CP932"},        Alias{"csshiftjis", "CP932"},
    Alias{"cp932", "CP932"},           Alias{"windows-31j", "CP932"},
    Alias{"ms932", "CP932"},           Alias{"x-ms-cp932", "CP932"},
    Alias{"shift_jis-2004", "CP932"},
    Alias{"euc-jp", "EUC-JP"},         Alias{"x-euc-jp", "EUC-JP"},
    Alias{"eucjp", "EUC-JP"},          Alias{"cseucpkdfmtjapanese", "EUC-JP"},
    Alias{"euc-jp-ms", "EUC-JP"},      Alias{"euc-jis-2004", "EUC-JP"},
    Alias{"iso-8859-1", "ISO-8859-1"}, Alias{"iso8859-1", "ISO-8859-1"},
    Alias{"iso_8859-1", "ISO-8859-1"}, Alias{"latin1", "ISO-8859-1"},
    Alias{"l1", "ISO-8859-1"},         Alias{"iso-8859-2", "ISO-8859-2"},
    Alias{"iso-8859-3", "ISO-8859-3"}, Alias{"iso-8859-4", "ISO-8859-4"},
    Alias{"iso-8859-5", "ISO-8859-5"}, Alias{"iso-8859-6", "ISO-8859-6"},
    Alias{"iso-8859-7", "ISO-8859-7"}, Alias{"iso-8859-8", "ISO-8859-8"},
    Alias{"iso-8859-8-i", "ISO-8859-8"}, Alias{"iso-8859-9", "ISO-8859-9"},
    Alias{"latin5", "ISO-8859-9"},     Alias{"iso-8859-10", "ISO-8859-10"},
    Alias{"iso-8859-11", "ISO-8859-11"}, Alias{"iso-8859-13", "ISO-8859-13"},
    Alias{"iso-8859-14", "ISO-8859-14"}, Alias{"iso-8859-15", "ISO-8859-15"},
    Alias{"latin-9", "ISO-8859-15"},   Alias{"latin9", "ISO-8859-15"},
    Alias{"windows-1250", "WINDOWS-1250"}, Alias{"cp1250", "WINDOWS-1250"},
    Alias{"windows-1251", "WINDOWS-1251"}, Alias{"cp1251", "WINDOWS-1251"},
    Alias{"windows-1252", "WINDOWS-1252"}, Alias{"cp1252", "WINDOWS-1252"},
    Alias{"windows-1253", "WINDOWS-1253"}, Alias{"cp1253", "WINDOWS-1253"},
    Alias{"windows-1254", "WINDOWS-1254"}, Alias{"cp1254", "WINDOWS-1254"},
    Alias{"windows-1255", "WINDOWS-1255"}, Alias{"cp1255", "WINDOWS-1255"},
    Alias{"windows-1256", "WINDOWS-1256"}, Alias{"cp1256", "WINDOWS-1256"},
    Alias{"windows-1257", "WINDOWS-1257"}, Alias{"cp1257", "WINDOWS-1257"},
    Alias{"windows-1258", "WINDOWS-1258"}, Alias{"cp1258", "WINDOWS-1258"},
    Alias{"koi8-r", "KOI8-R"},         Alias{"koi8-u", "KOI8-U"},
    Alias{"gb2312", "GBK"},            Alias{"euc-cn", "GBK"},
    Alias{"csgb2312", "GBK"},          Alias{"x-gbk", "GBK"},
    Alias{"gbk", "GBK"},               Alias{"cp936", "GBK"},
    Alias{"gb18030", "GB18030"},       Alias{"big5", "BIG5"},
    Alias{"x-big5", "BIG5"},           Alias{"cn-big5", "BIG5"},
    Alias{"csbig5", "BIG5"},           Alias{"big5-hkscs", "BIG5-HKSCS"},
    Alias{"euc-kr", "EUC-KR"},         Alias{"cseuckr", "EUC-KR"},
    Alias{"ks_c_5601-1987", "EUC-KR"}, Alias{"ks_c_5601", "EUC-KR"},
    Alias{"cp949", "EUC-KR"},          Alias{"uhc", "EUC-KR"},
    Alias{"utf-16", "UTF-16"},         Alias{"utf-16be", "UTF-16BE"},
    Alias{"utf-16le", "UTF-16LE"},     Alias{"utf-7", "UTF-7"},
};

}  // namespace

std::string_view CanonicalCharset(std::string_view label) {
  for (const Alias& alias : kAliases) {
    if (equalsNoCase(label, alias.label)) return alias.canonical;
  }
  return {};
}

bool ConvertToCp932(std::string_view label, std::string_view text, std::string& out,
                    std::size_t* replaced) {
  CharsetConverter converter;
  if (!converter.Open(label, CharsetConverter::Direction::kToCp932)) return false;
  const std::size_t count = converter.Convert(text, out, true);
  if (replaced != nullptr) *replaced = count;
  return true;
}

bool ConvertFromCp932(std::string_view label, std::string_view text, std::string& out,
                      std::size_t* replaced) {
  CharsetConverter converter;
  if (!converter.Open(label, CharsetConverter::Direction::kFromCp932)) return false;
  const std::size_t count = converter.Convert(text, out, true);
  if (replaced != nullptr) *replaced = count;
  return true;
}

}  // namespace zel
