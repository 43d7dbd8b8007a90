#include "ui/win32/LogView.h"

#include <commctrl.h>
#include <commdlg.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "ui/log/LogTexts.h"
#include "ui/log/VisibleText.h"
#include "ui/win32/Application.h"

#undef FindText  // commdlg.h's, not the model's

namespace {

constexpr UINT_PTR kAutoScrollTimer = 1;
constexpr UINT_PTR kFindTimer = 2;
constexpr UINT_PTR kSaveTimer = 3;
constexpr UINT kFindWork = WM_APP + 2;
constexpr UINT kSaveWork = WM_APP + 3;
constexpr auto kSlice = std::chrono::milliseconds(10);

bool Pressed(int key) {
  return (::GetKeyState(key) & 0x8000) != 0;
}

void AppendCharacter(std::wstring& text, char32_t c) {
  if (c < 0x10000) {
    text.push_back(static_cast<wchar_t>(c));
  } else {
    text.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
    text.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
  }
}

// The next slice of a work after the event loop's turn: it waits while input is queued, which a
// posted message would otherwise come before.
void Again(HWND window, UINT message, UINT_PTR timer) {
  if (HIWORD(::GetQueueStatus(QS_INPUT)) != 0)
    ::SetTimer(window, timer, USER_TIMER_MINIMUM, nullptr);
  else
    ::PostMessageW(window, message, 0, 0);
}

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

HFONT CreateFace(int height, const wchar_t* name) {
  return ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, name);
}

// A run of characters of a font and the glyph of its first.
struct TGlyphRange {
  char32_t First, Last;
  std::uint32_t Glyph;
  bool operator<(char32_t c) const { return Last < c; }
};

// The characters the font selected into `dc` has outside the Basic Multilingual Plane, with
// their glyphs, from its character map's format 12 subtable (big-endian, read within its
// bounds). Drawn by their glyphs, such characters need no surrogate pairs of the system.
std::vector<TGlyphRange> AstralRanges(HDC dc) {
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

}  // namespace

// The font each character is drawn with: the log's own where it has the character, otherwise
// the first that has it among the system's fallback fonts, then among every other font
// installed. Each character's font is chosen once, and measured with it.
class TFontFallback {
 public:
  TFontFallback(HFONT primary, int height) : FDc(::CreateCompatibleDC(nullptr)), FHeight(height) {
    FFaces.emplace_back(L"", primary);
    for (const wchar_t* name : kFallbackFaces)
      FFaces.emplace_back(name);
    FBasic.assign(0x10000, 0);
  }
  ~TFontFallback() {
    for (std::size_t i = 1; i < FFaces.size(); ++i)
      if (FFaces[i].Font) ::DeleteObject(FFaces[i].Font);
    ::DeleteDC(FDc);
  }
  TFontFallback(const TFontFallback&) = delete;
  TFontFallback& operator=(const TFontFallback&) = delete;

  HFONT FontOf(char32_t shown) {
    std::uint16_t& chosen = shown < 0x10000 ? FBasic[shown] : FOthers[shown];
    if (chosen == 0) chosen = static_cast<std::uint16_t>(Choose(shown) + 1);
    return FFaces[chosen - 1].Font;
  }

  // The glyph of a character outside the Basic Multilingual Plane in its font, when it has one.
  std::optional<WORD> GlyphOf(char32_t shown) {
    FontOf(shown);
    return FFaces[FOthers[shown] - 1].GlyphOf(shown);
  }

  float Advance(char32_t shown) {
    const HGDIOBJ before = ::SelectObject(FDc, FontOf(shown));
    SIZE extent{};
    if (const std::optional<WORD> glyph = shown < 0x10000 ? std::nullopt : GlyphOf(shown)) {
      WORD index = *glyph;
      ::GetTextExtentPointI(FDc, &index, 1, &extent);
    } else {
      std::wstring text;
      AppendCharacter(text, shown);
      ::GetTextExtentPoint32W(FDc, text.c_str(), static_cast<int>(text.size()), &extent);
    }
    ::SelectObject(FDc, before);
    return static_cast<float>(extent.cx);
  }

 private:
  struct TFace {
    explicit TFace(std::wstring name, HFONT font = nullptr)
        : Name(std::move(name)), Font(font), Opened(font != nullptr) {}
    std::wstring Name;
    HFONT Font = nullptr;
    bool Opened = false;
    bool AstralRead = false;
    std::vector<TGlyphRange> Astral;
    std::optional<WORD> GlyphOf(char32_t c) const {
      const auto range = std::lower_bound(Astral.begin(), Astral.end(), c);
      if (range == Astral.end() || c < range->First) return std::nullopt;
      return static_cast<WORD>(range->Glyph + (c - range->First));
    }
  };

  std::size_t Choose(char32_t c) {
    for (std::size_t i = 0;; ++i) {
      if (i == FFaces.size() && !FInstalledAdded) AddInstalledFaces();
      if (i == FFaces.size()) return 0;  // none has it: the log's font shows it missing
      if (Has(FFaces[i], c)) return i;
    }
  }

  // A face the system does not have is not there: the font mapper would give another.
  bool Open(TFace& face) {
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

  bool Has(TFace& face, char32_t c) {
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
  void AddInstalledFaces() {
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

  HDC FDc;
  int FHeight;
  std::vector<TFace> FFaces;  // the first, the log's font, is not owned
  bool FInstalledAdded = false;
  std::vector<std::uint16_t> FBasic;  // each character's face, plus one; 0 until chosen
  std::unordered_map<char32_t, std::uint16_t> FOthers;
};

TLogView::TLogView(HWND parent, int id, std::uint64_t capacity) : FModel(capacity) {
  static const bool registered = [] {
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.style = CS_DBLCLKS;
    type.lpfnWndProc = &TLogView::WindowProc;
    type.hInstance = TApplication::Instance();
    type.hCursor = ::LoadCursorW(nullptr, IDC_IBEAM);
    type.lpszClassName = kClassName;
    return ::RegisterClassExW(&type) != 0;
  }();
  (void)registered;
  // The window text names the view for screen readers.
  ::CreateWindowExW(WS_EX_CLIENTEDGE, kClassName, TApplication::FromUtf8(TLogTexts::kName).c_str(),
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL |
                        WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                    0, 0, 0, 0, parent, reinterpret_cast<HMENU>(INT_PTR{id}),
                    TApplication::Instance(), this);
  FAskSavePath = [this](const std::wstring& proposed) {
    wchar_t file[MAX_PATH * 4] = L"";
    const std::size_t slash = proposed.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : proposed.substr(0, slash);
    proposed.copy(file, std::min<std::size_t>(proposed.size() - (slash + 1), std::size(file) - 1),
                  slash + 1);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = FWindow;
    const std::wstring filter =
        TApplication::FromUtf8(TLogTexts::kTextFiles) + std::wstring(L" (*.txt)\0*.txt\0", 15) +
        TApplication::FromUtf8(TLogTexts::kAllFiles) + std::wstring(L" (*.*)\0*.*\0", 11);
    const std::wstring title = TApplication::FromUtf8(TLogTexts::kSaveTitle);
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = file;
    dialog.nMaxFile = static_cast<DWORD>(std::size(file));
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = L"txt";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER;
    // The dialog's library is loaded only when asked for: it brings the print spooler's,
    // which looks for a printing service on the network as it loads (under wine, at least).
    static const auto ask = reinterpret_cast<BOOL(WINAPI*)(OPENFILENAMEW*)>(
        reinterpret_cast<void (*)()>(::GetProcAddress(
            ::LoadLibraryExW(L"comdlg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
            "GetSaveFileNameW")));
    if (!ask) throw std::runtime_error("the system's save dialog is not there");
    return ask(&dialog) ? std::wstring(file) : std::wstring();
  };
  CreateFindBar();
  ReadLocale();
  SetDpi(96);
}

TLogView* TLogView::FromHandle(HWND window) {
  wchar_t type[32] = L"";
  ::GetClassNameW(window, type, 32);
  if (std::wstring_view(type) != kClassName) return nullptr;
  return reinterpret_cast<TLogView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

TLogView::~TLogView() {
  if (FWindow && ::IsWindow(FWindow)) {
    ::SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
    ::DestroyWindow(FWindow);
  }
  if (FBufferDc) ::DeleteDC(FBufferDc);
  if (FBuffer) ::DeleteObject(FBuffer);
  FFallback.reset();
  if (FFont) ::DeleteObject(FFont);
  if (FBarFont) ::DeleteObject(FBarFont);
}

LRESULT CALLBACK TLogView::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TLogView*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    self->FWindow = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TLogView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(window, message, w, l);
  return Handled(window, [&] { return self->Handle(message, w, l); });
}

void TLogView::AppendLines(std::span<const std::string> lines) {
  const std::size_t appended = FModel.AppendLines(lines);
  if (appended > 0) Sync();
  if (appended > 0 && FModel.FindOpen()) ::PostMessageW(FWindow, kFindWork, 0, 0);
  if (appended < lines.size()) throw ELineInsertionError();
}

void TLogView::SetColors(COLORREF background, COLORREF text) {
  FBackground = background;
  FForeground = text;
  ::InvalidateRect(FWindow, nullptr, FALSE);
}

COLORREF TLogView::BackgroundColor() const {
  return FBackground != CLR_INVALID ? FBackground : ::GetSysColor(COLOR_WINDOW);
}

COLORREF TLogView::TextColor() const {
  return FForeground != CLR_INVALID ? FForeground : ::GetSysColor(COLOR_WINDOWTEXT);
}

void TLogView::SetDpi(int dpi) {
  FDpi = dpi;
  FFallback.reset();
  if (FFont) ::DeleteObject(FFont);
  FFont = CreateFace(-::MulDiv(8, dpi, 72), L"Arial");
  FFallback = std::make_unique<TFontFallback>(FFont, -::MulDiv(8, dpi, 72));
  if (FBarFont) ::DeleteObject(FBarFont);
  FBarFont = ::CreateFontW(-::MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
  for (int id = kFindText; id <= kSaveStrip; ++id)
    ::SendMessageW(FindControl(id), WM_SETFONT, reinterpret_cast<WPARAM>(FBarFont), TRUE);
  UpdateMetrics();
  PlaceBars();
}

// The user's thousands separator, or a narrow no-break space when the locale states none.
void TLogView::ReadLocale() {
  wchar_t separator[8] = L"";
  const int length = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, separator, 8);
  FModel.SetThousandsSeparator(length > 1 ? TApplication::ToUtf8(separator) : "\u202F");
}

void TLogView::CreateFindBar() {
  struct TPart {
    int Id;
    const wchar_t* Type;
    const char* Text;  // UTF-8
    DWORD Style;
    DWORD ExStyle;
  };
  const TPart parts[] = {
      {kFindText, L"EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE},
      {kFindCase, L"BUTTON", TLogTexts::kMatchCase, BS_AUTOCHECKBOX | WS_TABSTOP, 0},
      {kFindPrevious, L"BUTTON", TLogTexts::kPrevious, BS_PUSHBUTTON | WS_TABSTOP, 0},
      {kFindNext, L"BUTTON", TLogTexts::kNext, BS_PUSHBUTTON | WS_TABSTOP, 0},
      {kFindStatus, L"STATIC", "", SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_CENTERIMAGE, 0},
      {kFindClose, L"BUTTON", TLogTexts::kClose, BS_PUSHBUTTON | WS_TABSTOP, 0},
      {kSaveStrip, L"STATIC", "", SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_CENTERIMAGE, 0},
  };
  for (const TPart& part : parts)
    ::CreateWindowExW(part.ExStyle, part.Type, TApplication::FromUtf8(part.Text).c_str(),
                      WS_CHILD | part.Style, 0, 0, 0, 0, FWindow,
                      reinterpret_cast<HMENU>(INT_PTR{part.Id}), TApplication::Instance(),
                      nullptr);
  const std::wstring cue = TApplication::FromUtf8(TLogTexts::kFindPlaceholder);
  ::SendMessageW(FindControl(kFindText), EM_SETCUEBANNER, TRUE,
                 reinterpret_cast<LPARAM>(cue.c_str()));
  for (int id : {kFindText, kFindCase, kFindPrevious, kFindNext, kFindClose})
    ::SetWindowSubclass(FindControl(id), &TLogView::FindBarProc, 1,
                        reinterpret_cast<DWORD_PTR>(this));
}

// Along the view's bottom edge, inside it: the save strip, then the find bar; the text stands
// above them.
void TLogView::PlaceBars() {
  RECT client;
  ::GetClientRect(FWindow, &client);
  const auto scale = [this](int pixels) { return ::MulDiv(pixels, FDpi, 96); };
  const int find = FModel.FindOpen() ? scale(26) : 0;
  const int strip = FSave ? scale(20) : 0;
  FBarHeight = find + strip;
  const int top = client.bottom - find;
  ::MoveWindow(FindControl(kSaveStrip), scale(4), top - strip,
               std::max(0L, client.right - scale(8)), strip, TRUE);
  ::ShowWindow(FindControl(kSaveStrip), FSave ? SW_SHOW : SW_HIDE);
  struct TSlot {
    int Id;
    int Width;
  };
  const TSlot slots[] = {{kFindText, 200}, {kFindCase, 120},   {kFindPrevious, 70},
                         {kFindNext, 70},  {kFindStatus, 320}, {kFindClose, 60}};
  int x = scale(4);
  for (const TSlot& slot : slots) {
    const int width = slot.Id == kFindStatus
                          ? std::max(scale(40), static_cast<int>(client.right) - x - scale(68))
                          : scale(slot.Width);
    ::MoveWindow(FindControl(slot.Id), x, top + scale(2), width, std::max(0, find - scale(4)),
                 TRUE);
    ::ShowWindow(FindControl(slot.Id), FModel.FindOpen() ? SW_SHOW : SW_HIDE);
    x += width + scale(6);
  }
  FModel.SetViewport(client.right, client.bottom - FBarHeight);
}

void TLogView::OpenFind() {
  FModel.OpenFind();
  PlaceBars();
  ::SetFocus(FindControl(kFindText));
  ::SendMessageW(FindControl(kFindText), EM_SETSEL, 0, -1);
  Sync();
}

void TLogView::CloseFind() {
  FModel.CloseFind();
  PlaceBars();
  ::SetFocus(FWindow);
  Sync();
}

void TLogView::FindNext(bool forward) {
  if (!FModel.FindAgain(forward)) return OpenFind();
  FindWork();
}

void TLogView::FindTextChanged() {
  wchar_t text[512] = L"";
  const int length = ::GetWindowTextW(FindControl(kFindText), text, 512);
  const bool match_case = ::SendMessageW(FindControl(kFindCase), BM_GETCHECK, 0, 0) == BST_CHECKED;
  FModel.FindText(std::u16string(text, text + std::max(0, length)), match_case);
  FindWork();
}

// A slice of the search, then of the count.
void TLogView::FindWork() {
  ::KillTimer(FWindow, kFindTimer);
  const bool more = FModel.ContinueFind(kSlice);
  ::SetWindowTextW(FindControl(kFindStatus), TApplication::FromUtf8(FModel.FindStatus()).c_str());
  Sync();
  if (more) Again(FWindow, kFindWork, kFindTimer);
}

LRESULT CALLBACK TLogView::FindBarProc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                       DWORD_PTR view) {
  auto* self = reinterpret_cast<TLogView*>(view);
  const bool text = ::GetDlgCtrlID(window) == kFindText;
  const bool button = !text && ::GetDlgCtrlID(window) != kFindCase;
  // Not the dialog manager's, here: Escape would cancel the window, Enter press its default.
  if (message == WM_GETDLGCODE && (w == VK_ESCAPE || (w == VK_RETURN && (text || button))))
    return ::DefSubclassProc(window, message, w, l) | DLGC_WANTMESSAGE;
  if (message == WM_KEYDOWN && (w == VK_ESCAPE || w == VK_F3 || (w == VK_RETURN && text))) {
    return Handled(window, [&]() -> LRESULT {
      if (w == VK_ESCAPE)
        self->CloseFind();
      else
        self->FindNext(!Pressed(VK_SHIFT));
      return 0;
    });
  }
  if (message == WM_KEYDOWN && w == VK_RETURN && button) {
    ::SendMessageW(window, BM_CLICK, 0, 0);
    return 0;
  }
  if (message == WM_CHAR && (w == L'\r' || w == 27)) return 0;  // no beep
  return ::DefSubclassProc(window, message, w, l);
}

void TLogView::SaveLog() {
  if (FSave) return;
  const std::wstring path = FAskSavePath(ProposedSavePath());
  if (path.empty()) return;
  try {
    FSave = std::make_unique<TLogSave>(FModel.Text(), FModel.CodePage(),
                                       std::filesystem::path(path), "\r\n");
  } catch (const std::exception& error) {
    return TApplication::ShowException(FWindow, error.what());
  }
  ::SetWindowTextW(FindControl(kSaveStrip), TApplication::FromUtf8(FSave->Progress()).c_str());
  PlaceBars();
  Sync();
  SaveWork();
}

// A slice of the save and the strip brought up to date; the window answers input and takes
// lines between slices.
void TLogView::SaveWork() {
  ::KillTimer(FWindow, kSaveTimer);
  if (!FSave) return;
  try {
    if (FSave->Continue(kSlice)) {
      ::SetWindowTextW(FindControl(kSaveStrip), TApplication::FromUtf8(FSave->Progress()).c_str());
      return Again(FWindow, kSaveWork, kSaveTimer);
    }
  } catch (const std::exception& error) {
    EndSave();
    return TApplication::ShowException(FWindow, error.what());
  }
  EndSave();
}

void TLogView::CancelSave() {
  if (!FSave) return;
  FSave->Cancel();
  EndSave();
}

void TLogView::EndSave() {
  ::KillTimer(FWindow, kSaveTimer);
  FSave.reset();
  PlaceBars();
  Sync();
}

std::wstring TLogView::ProposedSavePath() {
  const auto known = [](REFKNOWNFOLDERID id) {
    wchar_t* folder = nullptr;
    const bool found = SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &folder));
    std::filesystem::path path(found && folder ? folder : L"");
    ::CoTaskMemFree(folder);
    return path;
  };
  return ProposedLogPath(known(FOLDERID_Documents), known(FOLDERID_Profile),
                         std::chrono::system_clock::now())
      .wstring();
}

void TLogView::ClearLog() {
  CancelSave();
  ::KillTimer(FWindow, kFindTimer);
  const bool find_had_focus = ::GetParent(::GetFocus()) == FWindow;
  FModel.Clear();
  ::SetWindowTextW(FindControl(kFindStatus), L"");
  PlaceBars();
  if (find_had_focus) ::SetFocus(FWindow);
  Sync();
}

void TLogView::UpdateMetrics() {
  HDC dc = ::GetDC(FWindow);
  const HGDIOBJ before = ::SelectObject(dc, FFont);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, before);
  ::ReleaseDC(FWindow, dc);
  FAscent = metrics.tmAscent;
  // Each character measured once, as met, in the font it is drawn with; tab stops every half
  // inch, as in a rich-text control.
  FModel.SetMetrics([this](char32_t shown) { return FFallback->Advance(shown); },
                    static_cast<float>(FDpi) / 2, metrics.tmHeight + metrics.tmExternalLeading);
  Sync();
}

void TLogView::Sync() {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  const auto rows = static_cast<std::uint64_t>(FModel.Rows());
  info.nMax = static_cast<int>(std::min<std::uint64_t>(FModel.MaxTop() + rows - 1, INT32_MAX));
  info.nPage = static_cast<UINT>(rows);
  info.nPos = static_cast<int>(std::min<std::uint64_t>(FModel.Top(), INT32_MAX));
  ::SetScrollInfo(FWindow, SB_VERT, &info, TRUE);
  info.nMax = FModel.MaxLeft() + FModel.ViewportWidth() - 1;
  info.nPage = static_cast<UINT>(std::max(1, FModel.ViewportWidth()));
  info.nPos = FModel.Left();
  ::SetScrollInfo(FWindow, SB_HORZ, &info, TRUE);
  ::InvalidateRect(FWindow, nullptr, FALSE);
}

void TLogView::SelectAll() {
  FModel.SelectAll();
  ::InvalidateRect(FWindow, nullptr, FALSE);
}

void TLogView::Copy() const {
  if (!FModel.HasSelection()) return;
  const std::u16string text = FModel.SelectedText(u"\r\n");
  if (!::OpenClipboard(FWindow)) return;
  ::EmptyClipboard();
  if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t))) {
    auto* out = static_cast<wchar_t*>(::GlobalLock(memory));
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    ::GlobalUnlock(memory);
    if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
  }
  ::CloseClipboard();
}

// Draws the characters of `bytes` that lie between from_x and to_x, a call for each run of
// characters in one font, with each character's advance given, so that what is drawn stands
// exactly where the model says. Every font's text stands on the log font's baseline.
void TLogView::DrawLine(HDC dc, std::string_view bytes, int top, int from_x, int to_x) {
  const TCodePage& code_page = FModel.CodePage();
  const int origin = static_cast<int>(FModel.XOf(bytes, 0));
  const UINT align = ::SetTextAlign(dc, TA_BASELINE | TA_LEFT);
  HFONT font = FFont;
  int run_x = origin;
  const auto flush = [&] {
    if (FRun.empty()) return;
    ::SelectObject(dc, font);
    ::ExtTextOutW(dc, run_x, top + FAscent, 0, nullptr, FRun.c_str(),
                  static_cast<UINT>(FRun.size()), FDx.empty() ? nullptr : FDx.data());
    FRun.clear();
    FDx.clear();
  };
  float x = 0;
  FRun.clear();
  FDx.clear();
  for (std::size_t at = 0; at < bytes.size();) {
    const TCodePage::TCharacter c = code_page.At(bytes, at);
    at += c.Length;
    const float next = FModel.After(x, c.Code);
    if (origin + next <= from_x) {
      run_x = origin + static_cast<int>(next);
    } else {
      const char32_t shown = c.Code == u'\t' ? U' ' : VisibleCharacter(c.Code);
      // A character outside the Basic Multilingual Plane takes two units, which not every
      // system gives one advance: such a character is drawn alone, at its place.
      const bool alone = shown >= 0x10000;
      if (const HFONT its = FFallback->FontOf(shown); its != font || alone) {
        flush();
        font = its;
        run_x = origin + static_cast<int>(x);
      }
      if (alone) {
        ::SelectObject(dc, font);
        if (const std::optional<WORD> glyph = FFallback->GlyphOf(shown)) {
          ::ExtTextOutW(dc, run_x, top + FAscent, ETO_GLYPH_INDEX, nullptr,
                        reinterpret_cast<const wchar_t*>(&*glyph), 1, nullptr);
        } else {
          AppendCharacter(FRun, shown);
          flush();
        }
        run_x = origin + static_cast<int>(next);
      } else {
        AppendCharacter(FRun, shown);
        FDx.push_back(static_cast<INT>(next) - static_cast<INT>(x));
      }
      if (origin + next > to_x) break;
    }
    x = next;
  }
  flush();
  ::SelectObject(dc, FFont);
  ::SetTextAlign(dc, align);
}

void TLogView::Paint() {
  PAINTSTRUCT paint;
  HDC screen = ::BeginPaint(FWindow, &paint);
  RECT client;
  ::GetClientRect(FWindow, &client);
  const SIZE size{client.right, client.bottom};
  if (!FBufferDc || size.cx != FBufferSize.cx || size.cy != FBufferSize.cy) {
    if (!FBufferDc) FBufferDc = ::CreateCompatibleDC(screen);
    // The system refuses to delete a bitmap that a device context still holds.
    if (FBuffer) ::SelectObject(FBufferDc, FBufferDcBitmap);
    if (FBuffer) ::DeleteObject(FBuffer);
    FBuffer = ::CreateCompatibleBitmap(screen, std::max(1L, size.cx), std::max(1L, size.cy));
    FBufferDcBitmap = ::SelectObject(FBufferDc, FBuffer);
    FBufferSize = size;
  }
  HDC dc = FBufferDc;
  HBRUSH background = ::CreateSolidBrush(BackgroundColor());
  ::FillRect(dc, &client, background);
  ::DeleteObject(background);
  // Given back once painted, so that a font changed with the DPI can be deleted.
  const HGDIOBJ font_before = ::SelectObject(dc, FFont);
  ::SetBkMode(dc, TRANSPARENT);
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  const COLORREF highlighted = ::GetSysColor(COLOR_HIGHLIGHTTEXT);
  const int height = FModel.LineHeight();
  for (int row = 0; row * height < size.cy; ++row) {
    const std::uint64_t line = FModel.Top() + static_cast<std::uint64_t>(row);
    if (line >= FModel.LineCount()) break;
    const std::string_view bytes = FModel.Line(line);
    const int top = row * height;
    ::SetTextColor(dc, TextColor());
    DrawLine(dc, bytes, top, 0, size.cx);
    // Matches in the system's highlight colours, as high-contrast themes set them; the match
    // in hand, selected, is framed besides.
    if (FModel.FindOpen()) {
      FModel.Finder().ForEachMatch(bytes, [&](std::size_t at, std::size_t end) {
        const int left = static_cast<int>(FModel.XOf(bytes, at));
        const int right = static_cast<int>(FModel.XOf(bytes, end));
        RECT band{left, top, right, top + height};
        ::FillRect(dc, &band, ::GetSysColorBrush(COLOR_HIGHLIGHT));
        const int saved = ::SaveDC(dc);
        ::IntersectClipRect(dc, band.left, band.top, band.right, band.bottom);
        ::SetTextColor(dc, highlighted);
        DrawLine(dc, bytes, top, std::max(0, left), std::min<int>(size.cx, right));
        ::RestoreDC(dc, saved);
      });
    }
    const TLogModel::TSpan selected = FModel.SelectedIn(line);
    if (selected.From == selected.To && !selected.ThroughEnd) continue;
    // The selected part again, on the highlight; a selected line break shows as a blank.
    const int left = static_cast<int>(FModel.XOf(bytes, selected.From));
    const int right = static_cast<int>(FModel.XOf(bytes, selected.To)) +
                      (selected.ThroughEnd ? static_cast<int>(FModel.Advance(U' ')) : 0);
    if (right <= left) continue;
    RECT band{left, top, right, top + height};
    HBRUSH brush = ::CreateSolidBrush(highlight);
    ::FillRect(dc, &band, brush);
    ::DeleteObject(brush);
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, band.left, band.top, band.right, band.bottom);
    ::SetTextColor(dc, highlighted);
    DrawLine(dc, bytes, top, std::max(0, left), std::min<int>(size.cx, right));
    ::RestoreDC(dc, saved);
    if (FModel.FindOpen()) ::FrameRect(dc, &band, ::GetSysColorBrush(COLOR_WINDOWTEXT));
  }
  // Lines came in while the view looked elsewhere: say so, without a control of its own.
  FNewLinesMarker = {};
  if (const std::wstring note = TApplication::FromUtf8(FModel.NewLinesMarker()); !note.empty()) {
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, note.c_str(), static_cast<int>(note.size()), &extent);
    const int bottom = FModel.ViewportHeight() - 4;
    FNewLinesMarker = {size.cx - extent.cx - 16, bottom - extent.cy - 4, size.cx - 4, bottom};
    ::FillRect(dc, &FNewLinesMarker, ::GetSysColorBrush(COLOR_HIGHLIGHT));
    ::SetTextColor(dc, highlighted);
    RECT text = FNewLinesMarker;
    ::DrawTextW(dc, note.c_str(), static_cast<int>(note.size()), &text,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  ::SelectObject(dc, font_before);
  // Focused, the view says so: a focus rectangle inside its edge, and the caret.
  if (FCaret) {
    RECT inside{1, 1, size.cx - 1, size.cy - FBarHeight - 1};
    ::SetTextColor(dc, TextColor());
    ::SetBkColor(dc, BackgroundColor());
    ::DrawFocusRect(dc, &inside);
    PlaceCaret();
  }
  ::BitBlt(screen, 0, 0, size.cx, size.cy - FBarHeight, dc, 0, 0, SRCCOPY);
  if (FBarHeight > 0) {
    RECT bar{0, size.cy - FBarHeight, size.cx, size.cy};
    ::FillRect(screen, &bar, ::GetSysColorBrush(COLOR_BTNFACE));
  }
  ::EndPaint(FWindow, &paint);
}

// Where the selection's moving end is, when in sight; out of sight, hidden.
void TLogView::PlaceCaret() {
  const TLogModel::TPosition cursor = FModel.Cursor();
  const std::int64_t row =
      static_cast<std::int64_t>(cursor.Line) - static_cast<std::int64_t>(FModel.Top());
  const int x = static_cast<int>(FModel.XOf(FModel.Line(cursor.Line), cursor.Column));
  const bool shown = row >= 0 && row < FModel.Rows() && x >= 0 && x < FModel.ViewportWidth();
  ::SetCaretPos(shown ? x : -100, shown ? static_cast<int>(row) * FModel.LineHeight() : -100);
}

void TLogView::OnScroll(int bar, int request) {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  ::GetScrollInfo(FWindow, bar, &info);
  if (bar == SB_VERT) {
    switch (request) {
      case SB_LINEUP:
        FModel.ScrollBy(-1);
        break;
      case SB_LINEDOWN:
        FModel.ScrollBy(1);
        break;
      case SB_PAGEUP:
        FModel.ScrollPages(-1);
        break;
      case SB_PAGEDOWN:
        FModel.ScrollPages(1);
        break;
      case SB_TOP:
        FModel.ScrollTo(0);
        break;
      case SB_BOTTOM:
        FModel.ScrollToEnd();
        break;
      case SB_THUMBTRACK:
      case SB_THUMBPOSITION:
        FModel.ScrollTo(static_cast<std::uint64_t>(info.nTrackPos));
        break;
      default:
        return;
    }
  } else {
    const int step = TLogModel::kHorizontalStep;
    switch (request) {
      case SB_LINELEFT:
        FModel.ScrollLeftTo(FModel.Left() - step);
        break;
      case SB_LINERIGHT:
        FModel.ScrollLeftTo(FModel.Left() + step);
        break;
      case SB_PAGELEFT:
        FModel.ScrollLeftTo(FModel.Left() - FModel.ViewportWidth());
        break;
      case SB_PAGERIGHT:
        FModel.ScrollLeftTo(FModel.Left() + FModel.ViewportWidth());
        break;
      case SB_THUMBTRACK:
      case SB_THUMBPOSITION:
        FModel.ScrollLeftTo(info.nTrackPos);
        break;
      default:
        return;
    }
  }
  Sync();
}

bool TLogView::OnKey(WPARAM key) {
  const bool control = Pressed(VK_CONTROL);
  if ((control && key == 'C') || (control && key == VK_INSERT)) {
    Copy();
    return true;
  }
  if (control && key == 'A') {
    SelectAll();
    return true;
  }
  if (control && key == 'F') {
    OpenFind();
    return true;
  }
  if (control && key == 'S') {
    SaveLog();
    return true;
  }
  if (control && key == 'L') {
    ClearLog();
    return true;
  }
  if (key == VK_ESCAPE && FSave) {
    CancelSave();
    return true;
  }
  if (key == VK_F3) {
    FindNext(!Pressed(VK_SHIFT));
    return true;
  }
  static constexpr std::pair<WPARAM, TLogKey> kKeys[] = {
      {VK_UP, TLogKey::Up},         {VK_DOWN, TLogKey::Down}, {VK_PRIOR, TLogKey::PageUp},
      {VK_NEXT, TLogKey::PageDown}, {VK_LEFT, TLogKey::Left}, {VK_RIGHT, TLogKey::Right},
      {VK_HOME, TLogKey::Home},     {VK_END, TLogKey::End}};
  const auto found = std::find_if(std::begin(kKeys), std::end(kKeys),
                                  [key](const auto& pair) { return pair.first == key; });
  if (found == std::end(kKeys)) return false;
  FModel.Navigate(found->second, control, Pressed(VK_SHIFT));
  Sync();
  return true;
}

HMENU TLogView::CreateContextMenu() const {
  HMENU menu = ::CreatePopupMenu();
  const auto add = [menu](UINT flags, int command, const char* text, const wchar_t* keys) {
    const std::wstring item = TApplication::FromUtf8(text) + L"\t" + keys;
    ::AppendMenuW(menu, MF_STRING | flags, static_cast<UINT_PTR>(command), item.c_str());
  };
  add(FModel.HasSelection() ? 0 : MF_GRAYED, kCopyCommand, TLogTexts::kCopy, L"Ctrl+C");
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  add(FModel.LineCount() > 0 ? 0 : MF_GRAYED, kSelectAllCommand, TLogTexts::kSelectAll, L"Ctrl+A");
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  add(0, kFindCommand, TLogTexts::kFind, L"Ctrl+F");
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  add(FSave ? MF_GRAYED : 0, kSaveCommand, TLogTexts::kSave, L"Ctrl+S");
  add(0, kClearCommand, TLogTexts::kClear, L"Ctrl+L");
  return menu;
}

void TLogView::OnContextMenu(int x, int y) {
  if (x == -1 && y == -1) {  // from the keyboard: at the view's corner
    POINT corner{0, 0};
    ::ClientToScreen(FWindow, &corner);
    x = corner.x;
    y = corner.y;
  }
  HMENU menu = CreateContextMenu();
  const int command =
      ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, FWindow, nullptr);
  ::DestroyMenu(menu);
  if (command != 0) ::SendMessageW(FWindow, WM_COMMAND, static_cast<WPARAM>(command), 0);
}

void TLogView::ExtendSelectionTo(int x, int y) {
  FLastMouse = {x, y};
  FModel.MoveCursor(FModel.PositionAt(x, y));
  ::InvalidateRect(FWindow, nullptr, FALSE);
}

LRESULT TLogView::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers all
    case WM_SIZE:
      PlaceBars();
      Sync();
      return 0;
    case WM_SETFOCUS:
      ::CreateCaret(FWindow, nullptr, 1, FModel.LineHeight());
      FCaret = true;
      PlaceCaret();
      ::ShowCaret(FWindow);
      ::InvalidateRect(FWindow, nullptr, FALSE);
      return 0;
    case WM_KILLFOCUS:
      FCaret = false;
      ::DestroyCaret();
      ::InvalidateRect(FWindow, nullptr, FALSE);
      return 0;
    case WM_COMMAND:
      switch (LOWORD(w)) {
        case kFindText:
          if (HIWORD(w) == EN_CHANGE) FindTextChanged();
          return 0;
        case kFindCase:
          FindTextChanged();
          return 0;
        case kFindPrevious:
        case kFindNext:
          FindNext(LOWORD(w) == kFindNext);
          return 0;
        case kFindClose:
          CloseFind();
          return 0;
        case kCopyCommand:
          Copy();
          return 0;
        case kSelectAllCommand:
          SelectAll();
          return 0;
        case kFindCommand:
          OpenFind();
          return 0;
        case kSaveCommand:
          SaveLog();
          return 0;
        case kClearCommand:
          ClearLog();
          return 0;
        default:
          break;
      }
      break;
    case WM_CTLCOLORSTATIC: {
      // The status, the strip and the check box on the bar's own face, not on a white box.
      HDC dc = reinterpret_cast<HDC>(w);
      ::SetBkMode(dc, TRANSPARENT);
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case kFindWork:
      FindWork();
      return 0;
    case kSaveWork:
      SaveWork();
      return 0;
    case WM_GETDLGCODE:
      // Escape cancels a save here, rather than the window.
      return DLGC_WANTARROWS | DLGC_WANTCHARS | (w == VK_ESCAPE && FSave ? DLGC_WANTMESSAGE : 0);
    case WM_VSCROLL:
      OnScroll(SB_VERT, LOWORD(w));
      return 0;
    case WM_HSCROLL:
      OnScroll(SB_HORZ, LOWORD(w));
      return 0;
    case WM_MOUSEWHEEL: {
      UINT per_notch = 3;
      ::SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &per_notch, 0);
      FWheel += GET_WHEEL_DELTA_WPARAM(w);
      const int notches = FWheel / WHEEL_DELTA;
      FWheel %= WHEEL_DELTA;
      // The setting "one screen at a time" is a count of its own, not a count of lines.
      if (per_notch == WHEEL_PAGESCROLL)
        FModel.ScrollPages(-notches);
      else
        FModel.ScrollBy(-static_cast<std::int64_t>(notches) * per_notch);
      Sync();
      return 0;
    }
    case WM_KEYDOWN:
      if (OnKey(w)) return 0;
      break;
    case WM_LBUTTONDOWN: {
      const POINT point{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
      if (::PtInRect(&FNewLinesMarker, point)) {
        FModel.ScrollToEnd();
        Sync();
        return 0;
      }
      ::SetFocus(FWindow);
      ::SetCapture(FWindow);
      const TLogModel::TPosition at = FModel.PositionAt(GET_X_LPARAM(l), GET_Y_LPARAM(l));
      FModel.Select((w & MK_SHIFT) ? FModel.Anchor() : at, at);
      FSelecting = true;
      FLastMouse = {GET_X_LPARAM(l), GET_Y_LPARAM(l)};
      ::InvalidateRect(FWindow, nullptr, FALSE);
      return 0;
    }
    case WM_MOUSEMOVE: {
      if (!FSelecting) break;
      ExtendSelectionTo(GET_X_LPARAM(l), GET_Y_LPARAM(l));
      if (FModel.DragBeyondEdge(FLastMouse.x, FLastMouse.y))
        ::SetTimer(FWindow, kAutoScrollTimer, 50, nullptr);
      else
        ::KillTimer(FWindow, kAutoScrollTimer);
      return 0;
    }
    case WM_TIMER:
      if (w == kFindTimer) {
        FindWork();
        return 0;
      }
      if (w == kSaveTimer) {
        SaveWork();
        return 0;
      }
      if (w != kAutoScrollTimer || !FSelecting) break;
      FModel.DragStep(FLastMouse.x, FLastMouse.y);
      Sync();
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      FSelecting = false;
      ::KillTimer(FWindow, kAutoScrollTimer);
      if (message == WM_LBUTTONUP) ::ReleaseCapture();
      return 0;
    case WM_LBUTTONDBLCLK:
      FModel.SelectWordAt(FModel.PositionAt(GET_X_LPARAM(l), GET_Y_LPARAM(l)));
      FSelecting = false;
      ::InvalidateRect(FWindow, nullptr, FALSE);
      return 0;
    case WM_CONTEXTMENU:
      OnContextMenu(GET_X_LPARAM(l), GET_Y_LPARAM(l));
      return 0;
    case WM_NCDESTROY: {
      const HWND window = FWindow;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      FWindow = nullptr;
      return ::DefWindowProcW(window, message, w, l);
    }
    default:
      break;
  }
  return ::DefWindowProcW(FWindow, message, w, l);
}
