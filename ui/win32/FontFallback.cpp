#include "ui/win32/FontFallback.h"

#include <algorithm>
#include <utility>

namespace {

// Windows' own fonts for the symbols and scripts Arial lacks, the control pictures' first.
constexpr const wchar_t* kFallbackFaces[] = {L"Segoe UI Symbol",
                                             L"Segoe UI Emoji",
                                             L"Segoe UI",
                                             L"Microsoft YaHei UI",
                                             L"Yu Gothic UI",
                                             L"Malgun Gothic",
                                             L"Nirmala UI",
                                             L"Segoe UI Historic",
                                             L"Ebrima",
                                             L"Gadugi",
                                             L"Leelawadee UI",
                                             L"Microsoft Himalaya",
                                             L"Mongolian Baiti",
                                             L"Myanmar Text",
                                             L"Sylfaen",
                                             L"Arial Unicode MS",
                                             L"Lucida Sans Unicode"};

}  // namespace

HFONT CreateFace(int height, const wchar_t* name) {
  return ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, name);
}

TFontFallback::TFontFallback(HFONT primary, int height)
    : FDc(::CreateCompatibleDC(nullptr)), FHeight(height) {
  FFaces.emplace_back(L"", primary);
  for (const wchar_t* name : kFallbackFaces)
    FFaces.emplace_back(name);
  FBasic.assign(0x10000, 0);
}

TFontFallback::~TFontFallback() {
  for (std::size_t i = 1; i < FFaces.size(); ++i)
    if (FFaces[i].Font) ::DeleteObject(FFaces[i].Font);
  ::DeleteDC(FDc);
}

HFONT TFontFallback::FontOf(char32_t shown) {
  std::uint16_t& chosen = shown < 0x10000 ? FBasic[shown] : FOthers[shown];
  if (chosen == 0) chosen = static_cast<std::uint16_t>(Choose(shown) + 1);
  return FFaces[chosen - 1].Font;
}

std::optional<WORD> TFontFallback::GlyphOf(char32_t shown) {
  if (shown < 0x10000) return std::nullopt;
  FontOf(shown);
  return FFaces[FOthers[shown] - 1].GlyphOf(shown);
}

std::optional<WORD> TFontFallback::TFace::GlyphOf(char32_t c) const {
  const auto range = std::lower_bound(Astral.begin(), Astral.end(), c);
  if (range == Astral.end() || c < range->First) return std::nullopt;
  return static_cast<WORD>(range->Glyph + (c - range->First));
}

// The characters the font selected into `dc` has outside the Basic Multilingual Plane, with
// their glyphs, from its character map's format 12 subtable (big-endian, read within its
// bounds). Drawn by their glyphs, such characters need no surrogate pairs of the system.
std::vector<TFontFallback::TGlyphRange> TFontFallback::AstralRanges(HDC dc) {
  constexpr DWORD kCmap = 0x70616D63;  // "cmap", as GetFontData takes a tag
  std::vector<TGlyphRange> ranges;
  const DWORD size = ::GetFontData(dc, kCmap, 0, nullptr, 0);
  if (size == GDI_ERROR || size == 0) return ranges;
  std::vector<unsigned char> table(size);
  if (::GetFontData(dc, kCmap, 0, table.data(), size) != size) return ranges;
  const auto u16 = [&](std::size_t at) -> std::uint32_t {
    return at + 2 <= table.size() ? (table[at] << 8u) | table[at + 1] : 0;
  };
  const auto u32 = [&](std::size_t at) -> std::uint32_t { return (u16(at) << 16) | u16(at + 2); };
  for (std::uint32_t i = 0, count = u16(2); i < count; ++i) {
    const std::size_t record = 4 + 8 * std::size_t{i};
    const std::uint32_t platform = u16(record), encoding = u16(record + 2);
    const std::size_t offset = u32(record + 4);
    if (!((platform == 3 && encoding == 10) || (platform == 0 && encoding >= 4)) ||
        u16(offset) != 12)
      continue;
    const std::uint32_t groups = u32(offset + 12);
    for (std::uint32_t g = 0; g < groups; ++g) {
      const std::size_t group = offset + 16 + 12 * std::size_t{g};
      if (group + 12 > table.size()) break;
      ranges.push_back({u32(group), u32(group + 4), u32(group + 8)});
    }
    break;
  }
  std::sort(ranges.begin(), ranges.end(),
            [](const TGlyphRange& a, const TGlyphRange& b) { return a.First < b.First; });
  return ranges;
}

std::size_t TFontFallback::Choose(char32_t c) {
  for (std::size_t i = 0;; ++i) {
    if (i == FFaces.size() && !FInstalledAdded) AddInstalledFaces();
    if (i == FFaces.size()) return 0;  // none has it: the log's font shows it missing
    if (Has(FFaces[i], c)) return i;
  }
}

// A face the system does not have is not there: the font mapper would give another.
bool TFontFallback::Open(TFace& face) {
  if (face.Opened) return face.Font != nullptr;
  face.Opened = true;
  face.Font = CreateFace(FHeight, face.Name.c_str());
  const HGDIOBJ before = ::SelectObject(FDc, face.Font);
  wchar_t name[LF_FACESIZE] = L"";
  ::GetTextFaceW(FDc, LF_FACESIZE, name);
  ::SelectObject(FDc, before);
  if (::lstrcmpiW(name, face.Name.c_str()) != 0) {
    ::DeleteObject(face.Font);
    face.Font = nullptr;
  }
  return face.Font != nullptr;
}

bool TFontFallback::Has(TFace& face, char32_t c) {
  if (!Open(face)) return false;
  const HGDIOBJ before = ::SelectObject(FDc, face.Font);
  bool has = false;
  if (c < 0x10000) {
    const wchar_t unit = static_cast<wchar_t>(c);
    WORD glyph = 0xFFFF;
    has = ::GetGlyphIndicesW(FDc, &unit, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 &&
          glyph != 0xFFFF;
  } else {
    if (!face.AstralRead) face.Astral = AstralRanges(FDc);
    face.AstralRead = true;
    has = face.GlyphOf(c).has_value();
  }
  ::SelectObject(FDc, before);
  return has;
}

// Every TrueType family installed, once, after the fallback fonts.
void TFontFallback::AddInstalledFaces() {
  FInstalledAdded = true;
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  ::EnumFontFamiliesExW(
      FDc, &wanted,
      [](const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM self) -> int {
        auto& faces = reinterpret_cast<TFontFallback*>(self)->FFaces;
        const std::wstring name = font->lfFaceName;
        const bool known = std::any_of(faces.begin(), faces.end(), [&](const TFace& face) {
          return ::lstrcmpiW(face.Name.c_str(), name.c_str()) == 0;
        });
        if ((type & TRUETYPE_FONTTYPE) && !name.empty() && name[0] != L'@' && !known)
          faces.emplace_back(name);
        return faces.size() < 0xFFFF;
      },
      reinterpret_cast<LPARAM>(this), 0);
}
