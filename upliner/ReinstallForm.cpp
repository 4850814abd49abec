#include "upliner/ReinstallForm.h"

#include <algorithm>
#include <utility>

#include "core/Exception.h"
#include "core/ServerType.h"
#include "core/TextFileLines.h"

namespace zo {

namespace {

// The height of the banner that an installer's "-n" adds above everything.
constexpr int kBannerHeight = 58;
// The outer height of a window started with "-n", before the mode adds to it.
constexpr int kInnosetupHeight = 395;
// Reinstall mode needs one more row for the integrity choice.
constexpr int kReinstallExtraHeight = 24;
// The alter modes show only the database group, the directory and name rows
// and the buttons: a narrow window, shorter by the rows a mode leaves out.
constexpr int kAlterWidth = 278;
constexpr int kAlterLangsHeightChange = -88;
constexpr int kAlterArchiveHeightChange = -64;
constexpr int kAlterExtDBHeightChange = -40;
// Button row of the alter modes, measured from the window's outer edges.
constexpr int kButtonRowFromBottom = 58;
constexpr int kButtonRowFromRight = 87;
constexpr int kButtonStep = 83;
// The banner's alter modes: the database group spans the window, and the
// directory and name fields end this far before the window's right edge.
constexpr int kBannerGroupWidth = 480;
constexpr int kBannerFieldMargin = 36;

// Without a toolkit a caption's width is estimated: an average character of
// the window's small font is about six pixels wide, seven when bold.
constexpr int kAverageCharWidth = 6;
constexpr int kAverageBoldCharWidth = 7;
int EstimatedCaptionWidth(StringView Caption, bool Bold) {
  return static_cast<int>(Caption.size()) * (Bold ? kAverageBoldCharWidth : kAverageCharWidth);
}
// The least room between a caption and the field it names.
constexpr int kCaptionGap = 2;

void Place(TControl& C, String Name, TControlKind Kind, TControl* Parent, int Left, int Top, int Width, int Height,
           String Text = {}) {
  C.Name = std::move(Name);
  C.Kind = Kind;
  C.Parent = Parent;
  C.Left = Left;
  C.Top = Top;
  C.Width = Width;
  C.Height = Height;
  C.Text = std::move(Text);
}

// A label at Left, sized to its caption once the form measures it, and
// naming Field (if any) to its right.
void PlaceLabel(TControl& C, String Name, TControl* Parent, int Left, int Top, String Caption,
                TControl* Field = nullptr) {
  Place(C, std::move(Name), ckLabel, Parent, Left, Top, 0, kLabelHeight, std::move(Caption));
  C.CaptionLeft = Left;
  C.FocusControl = Field;
}

}  // namespace

TReinstallForm::TReinstallForm(IFormDialogs& Dialogs, String AppDir)
    : FDialogs(Dialogs), FAppDir(std::move(AppDir)), FCaptionMeasure(EstimatedCaptionWidth) {
  CreateControls();
  BindHandlers();
  for (TControl* c : FControls)
    if (c->Kind == ckLabel) FitLabel(*c);
}

TReinstallForm::~TReinstallForm() { FormDestroy(); }

void TReinstallForm::CreateControls() {
  TControl* const form = nullptr;

  Place(Panel1, u"Panel1", ckPanel, form, 0, 0, 497, kBannerHeight);
  Panel1.Visible = false;
  Place(InnerImage, u"InnerImage", ckImage, &Panel1, 438, 0, 55, 58);
  PlaceLabel(PageName, u"PageName", &Panel1, 24, 10, u"Reinstalace");
  Place(PageDescription, u"PageDescription", ckStaticText, &Panel1, 40, 26, 389, 29,
        u"Prosím zvolte parametry pro reinstalaci");
  Place(Bevel1, u"Bevel1", ckBevel, form, -3, 58, 499, 3);
  Bevel1.Visible = false;

  Place(GBDatabase, u"GBDatabase", ckGroupBox, form, 8, 8, 257, 145, u"Database");
  PlaceLabel(LServerName, u"LServerName", &GBDatabase, 16, 24, u"Server Name :", &CServerName);
  Place(CServerName, u"CServerName", ckComboBox, &GBDatabase, 104, 20, 137, kEditHeight);
  PlaceLabel(LUserName, u"LUserName", &GBDatabase, 16, 48, u"User Name :", &EUserName);
  Place(EUserName, u"EUserName", ckEdit, &GBDatabase, 104, 44, 137, kEditHeight);
  PlaceLabel(LPassword, u"LPassword", &GBDatabase, 16, 72, u"Password :", &EPassword);
  Place(EPassword, u"EPassword", ckEdit, &GBDatabase, 104, 68, 137, kEditHeight);
  EPassword.Password = true;
  Place(CBTrustedConnection, u"CBTrustedConnection", ckCheckBox, &GBDatabase, 16, 96, 225, kCheckBoxHeight,
        u"Windows NT Authentication");
  PlaceLabel(LDatabaseName, u"LDatabaseName", &GBDatabase, 16, 120, u"Database Name :", &CDatabaseName);
  Place(CDatabaseName, u"CDatabaseName", ckComboBox, &GBDatabase, 105, 116, 137, kEditHeight);
  for (TControl* field : {&CServerName, &EUserName, &EPassword, &CBTrustedConnection, &CDatabaseName})
    field->AnchorRight = true;

  Place(GBVersion, u"GBVersion", ckGroupBox, form, 8, 160, 257, 81, u"Versions");
  PlaceLabel(Label1, u"Label1", &GBVersion, 8, 24, u"Actual version :", &EActualVersion);
  Place(EActualVersion, u"EActualVersion", ckEdit, &GBVersion, 104, 20, 137, kEditHeight);
  EActualVersion.Enabled = false;
  PlaceLabel(Label2, u"Label2", &GBVersion, 8, 48, u"Target version :", &ETargetVersion);
  Place(ETargetVersion, u"ETargetVersion", ckEdit, &GBVersion, 104, 44, 137, kEditHeight);

  PlaceLabel(LNewName, u"LNewName", form, 23, 239, u"New Name :", &ENewName);
  Place(ENewName, u"ENewName", ckEdit, form, 88, 231, 153, kEditHeight);
  PlaceLabel(LNewDir, u"LNewDir", form, 19, 247, u"New Dir :", &ENewDir);
  Place(ENewDir, u"ENewDir", ckEdit, form, 88, 240, 153, kEditHeight);
  Place(SBNewDir, u"SBNewDir", ckSpeedButton, form, 240, 240, 23, 22);

  PlaceLabel(LCheckIntegrity, u"LCheckIntegrity", form, 19, 266, u"Check Integrity :", &CCheckIntegrity);
  Place(CCheckIntegrity, u"CCheckIntegrity", ckComboBox, form, 104, 268, 137, kEditHeight);
  CCheckIntegrity.Items = {kIntegrityOnlyLast, kIntegrityAlways, kIntegrityNever};
  CCheckIntegrity.ItemIndex = 0;
  CCheckIntegrity.Text = kIntegrityOnlyLast;
  CCheckIntegrity.AnchorRight = true;

  Place(MState, u"MState", ckMemo, form, 272, 8, 217, 233);
  Place(MChanges, u"MChanges", ckMemo, form, 272, 8, 217, 233);
  MChanges.Visible = false;
  Place(CBCheckChanges, u"CBCheckChanges", ckCheckBox, form, 272, 248, 113, kCheckBoxHeight, u"Check Changes");
  Place(CBShowChanges, u"CBShowChanges", ckCheckBox, form, 400, 248, 105, kCheckBoxHeight, u"Show Changes");
  CBShowChanges.Enabled = false;

  Place(BAlterLangs, u"BAlterLangs", ckButton, form, 96, 280, 75, 25, u"Alter Langs");
  Place(BAlterArchive, u"BAlterArchive", ckButton, form, 96, 264, 75, 25, u"Alter Archive");
  Place(BAlterExtDB, u"BAlterExtDB", ckButton, form, 96, 247, 75, 25, u"Alter ExtDB");
  Place(BSave, u"BSave", ckButton, form, 176, 280, 75, 25, u"Save Results");
  BSave.Enabled = false;
  Place(BConnect, u"BConnect", ckButton, form, 256, 280, 75, 25, u"Connect");
  Place(BReinstall, u"BReinstall", ckButton, form, 335, 280, 75, 25, u"Reinstall");
  BReinstall.Enabled = false;
  Place(BClose, u"BClose", ckButton, form, 416, 280, 75, 25, u"Close");

  FControls = {&Panel1,         &InnerImage,      &PageName,      &PageDescription, &Bevel1,
               &GBDatabase,     &LServerName,     &CServerName,   &LUserName,       &EUserName,
               &LPassword,      &EPassword,       &CBTrustedConnection, &LDatabaseName, &CDatabaseName,
               &GBVersion,      &Label1,          &EActualVersion, &Label2,         &ETargetVersion,
               &LNewName,       &ENewName,        &LNewDir,       &ENewDir,         &SBNewDir,
               &LCheckIntegrity, &CCheckIntegrity, &MState,       &MChanges,        &CBCheckChanges,
               &CBShowChanges,  &BAlterLangs,     &BAlterArchive, &BAlterExtDB,     &BSave,
               &BConnect,       &BReinstall,      &BClose};
}

void TReinstallForm::BindHandlers() {
  for (TControl* c : {&CServerName, &EUserName, &EPassword, &CDatabaseName, &CCheckIntegrity})
    c->OnChange = [this] { EServerNameChange(); };
  for (TControl* c : {&ENewDir, &ENewName, &EActualVersion, &ETargetVersion})
    c->OnChange = [this] { EActualVersionChange(); };
  for (TControl* c : {&MState, &MChanges}) c->OnChange = [this] { MStateChange(); };

  CServerName.OnDropDown = [this] { CServerNameDropDown(); };
  CDatabaseName.OnDropDown = [this] { CDatabaseNameDropDown(); };
  CBShowChanges.OnClick = [this] { CBShowChangesClick(); };
  SBNewDir.OnClick = [this] { SBNewDirClick(); };
  BSave.OnClick = [this] { BSaveClick(); };
  BClose.OnClick = [this] { BCloseClick(); };
  BConnect.OnClick = [this] { BConnectClick(); };
  BReinstall.OnClick = [this] { BReinstallClick(); };
  BAlterLangs.OnClick = [this] { BAlterLangsClick(); };
  BAlterArchive.OnClick = [this] { BAlterArchiveClick(); };
  BAlterExtDB.OnClick = [this] { BAlterExtDBClick(); };
}

// ---- Life cycle ------------------------------------------------------------------

void TReinstallForm::FormCreate(const std::vector<String>& Args) {
  // First of all: the data layer reads the server kind whenever it builds
  // statements, and every connection this window fills passes it on.
  CurrentSQLServerType = stSQLServer;

  FConnected = false;
  FDriverName = u"SQL Server";
  FArchiveSupport = false;
  FExtDBSupport = false;
  FReinstallAction = rraReinstall;
  FLangActions = {};
  FArchiveActions = {};
  FExtDBActions = {};
  FVersionSL.clear();
  FInnosetupForm = false;

  TStartParameters params;
  try {
    ReadCommandLine(Args, params);
  } catch (const Exception& E) {
    FDialogs.ShowMessage(E.Message());
    FTerminated = true;
    return;
  }
  FReinstallAction = params.ReinstallAction;
  FLangActions = params.LangActions;
  FArchiveActions = params.ArchiveActions;
  FExtDBActions = params.ExtDBActions;
  FInnosetupForm = params.InnosetupForm;
  if (FInnosetupForm) {
    Left = params.Left;
    Top = params.Top;
  }

  // A missing list is reported, but the window still opens: the user can see
  // what is wrong, and every upgrade attempt names the unsupported version.
  if (FReinstallAction == rraReinstall) HandleEvent([this] { LoadSupportedVersions(); });

  PageName.Bold = true;
  SetCaption(PageName, PageName.Text);
}

void TReinstallForm::LoadSupportedVersions() {
  FVersionSL = LoadStringsFromFile(ToolFilePath(FAppDir, kVersionsFileName));
  if (!FVersionSL.empty()) SetText(ETargetVersion, FVersionSL.back());
}

void TReinstallForm::FormActivate() {
  if (!FArranged) {
    FArranged = true;
    ArrangeForMode();
  }
  UpdateControls();
}

void TReinstallForm::FormDestroy() { FVersionSL.clear(); }

// ---- Mode arrangement ------------------------------------------------------------------

void TReinstallForm::ArrangeForMode() {
  const int B = FInnosetupForm ? kBannerHeight : 0;
  if (FInnosetupForm) {
    Panel1.Visible = true;
    Bevel1.Visible = true;
    SetHeight(kInnosetupHeight);
  }
  if (FReinstallAction == rraReinstall)
    ArrangeReinstallMode(B);
  else
    ArrangeAlterMode(B);
}

void TReinstallForm::ArrangeReinstallMode(int B) {
  SetHeight(Height + kReinstallExtraHeight);
  for (TControl* c : {&LNewDir, &ENewDir, &SBNewDir, &LNewName, &ENewName, &BAlterArchive, &BAlterLangs, &BAlterExtDB})
    c->Visible = false;
  Caption = u"Reinstall Database";
  for (TControl* c : {&GBDatabase, &GBVersion, &MChanges, &MState, &CBCheckChanges, &CBShowChanges}) c->Top += B;
  LCheckIntegrity.Top = 282 + B;
  CCheckIntegrity.Top = 277 + B;
  for (TControl* c : {&BConnect, &BClose, &BReinstall, &BSave}) c->Top += B + kReinstallExtraHeight;
}

void TReinstallForm::ArrangeAlterMode(int B) {
  const bool langs = FReinstallAction == rraAlterLangs;
  const bool archive = FReinstallAction == rraAlterArchive;
  const bool extDB = FReinstallAction == rraAlterExternalDB;

  if (!FInnosetupForm) {
    SetWidth(kAlterWidth);
    SetHeight(Height + (langs ? kAlterLangsHeightChange : archive ? kAlterArchiveHeightChange : kAlterExtDBHeightChange));
  }
  GBDatabase.Top += B;

  LNewDir.Top = 194 + B;
  ENewDir.Top = 189 + B;
  SBNewDir.Top = 188 + B;
  LNewName.Top = 218 + B;
  ENewName.Top = 213 + B;

  const int buttonTop = Height - kButtonRowFromBottom;
  BConnect.Top = buttonTop;
  BConnect.Left = Width - kButtonRowFromRight;
  BClose.Top = buttonTop;
  BClose.Left = BConnect.Left - kButtonStep;
  for (TControl* c : {&BAlterLangs, &BAlterArchive, &BAlterExtDB}) {
    c->Top = buttonTop;
    c->Left = BClose.Left - kButtonStep;
  }

  LNewName.Visible = extDB;
  ENewName.Visible = extDB;
  LNewDir.Visible = archive || extDB;
  ENewDir.Visible = archive || extDB;
  SBNewDir.Visible = archive || extDB;
  BAlterLangs.Visible = langs;
  BAlterArchive.Visible = archive;
  BAlterExtDB.Visible = extDB;

  if (langs) {
    Caption = u"Alter languages";
  } else if (archive) {
    Caption = u"Alter archive";
    SetCaption(LNewDir, u"Archive Dir :");
  } else {
    Caption = u"Alter external db";
    SetCaption(LNewDir, u"Ext DB Dir :");
    SetCaption(LNewName, u"Ext DB Name :");
  }

  for (TControl* c : {&BReinstall, &BSave, &MState, &MChanges, &CBCheckChanges, &CBShowChanges, &GBVersion,
                      &LCheckIntegrity, &CCheckIntegrity})
    c->Visible = false;

  if (FInnosetupForm) {
    SetControlWidth(GBDatabase, kBannerGroupWidth);
    ENewName.Width = Width - ENewName.Left - kBannerFieldMargin;
    ENewDir.Width = Width - ENewDir.Left - kBannerFieldMargin;
  }
  SBNewDir.Left = ENewDir.Right() + 1;
}

// ---- Control state ----------------------------------------------------------------------

void TReinstallForm::EServerNameChange() {
  FConnected = false;
  UpdateControls();
}

void TReinstallForm::EActualVersionChange() { UpdateControls(); }

void TReinstallForm::UpdateControls() {
  BConnect.Enabled = !FConnected && CServerName.Filled() && CDatabaseName.Filled();
  BReinstall.Enabled = FConnected && EActualVersion.Filled() && ETargetVersion.Filled();
  BAlterLangs.Enabled = FConnected;
  BAlterArchive.Enabled = FConnected && (FArchiveSupport || ENewDir.Filled());
  BAlterExtDB.Enabled = FConnected && (FExtDBSupport || (ENewDir.Filled() && ENewName.Filled()));
  SetCaption(BAlterArchive, FArchiveSupport ? u"Del Archive" : u"Add Archive");
  SetCaption(BAlterExtDB, FExtDBSupport ? u"Del ExtDB" : u"Add ExtDB");
}

// ---- The window ----------------------------------------------------------------------------

void TReinstallForm::SetWidth(int AWidth) {
  const int delta = AWidth - Width;
  Width = AWidth;
  for (TControl* c : FControls)
    if (c->Parent == nullptr && c->AnchorRight) c->Width = std::max(0, c->Width + delta);
}

void TReinstallForm::SetControlWidth(TControl& C, int AWidth) {
  const int delta = AWidth - C.Width;
  C.Width = AWidth;
  for (TControl* c : FControls)
    if (c->Parent == &C && c->AnchorRight) c->Width = std::max(0, c->Width + delta);
}

void TReinstallForm::Hide() {
  Visible = false;
  if (OnVisibilityChange) OnVisibilityChange();
}

void TReinstallForm::Show() {
  Visible = true;
  if (OnVisibilityChange) OnVisibilityChange();
}

void TReinstallForm::Close() {
  FClosed = true;
  Visible = false;
  if (OnClose) OnClose();
}

TControl* TReinstallForm::FindControl(StringView Name) const {
  for (TControl* c : FControls)
    if (c->Name == Name) return c;
  return nullptr;
}

int TReinstallForm::WindowLeft(const TControl& C) const {
  return C.Left + (C.Parent != nullptr ? WindowLeft(*C.Parent) : 0);
}

int TReinstallForm::WindowTop(const TControl& C) const {
  return C.Top + (C.Parent != nullptr ? WindowTop(*C.Parent) : 0);
}

bool TReinstallForm::Showing(const TControl& C) const {
  return C.Visible && (C.Parent == nullptr || Showing(*C.Parent));
}

// ---- Changes made by the program ------------------------------------------------------------

namespace {

void Fire(const std::function<void()>& Handler) {
  if (Handler) Handler();
}

int IndexOfItem(const std::vector<String>& Items, StringView Text) {
  for (std::size_t i = 0; i < Items.size(); ++i)
    if (Items[i] == Text) return static_cast<int>(i);
  return -1;
}

}  // namespace

void TReinstallForm::SetText(TControl& C, StringView Text) {
  if (C.Text == Text) return;
  C.Text = String(Text);
  if (C.Kind == ckComboBox) C.ItemIndex = IndexOfItem(C.Items, Text);
  Fire(C.OnChange);
}

void TReinstallForm::SelectItem(TControl& C, int Index) {
  if (Index < 0 || Index >= static_cast<int>(C.Items.size())) throw EListError(kSListIndexError, {Index});
  if (C.ItemIndex == Index && C.Text == C.Items[Index]) return;
  C.ItemIndex = Index;
  C.Text = C.Items[Index];
  Fire(C.OnChange);
}

void TReinstallForm::SetChecked(TControl& C, bool Checked) {
  if (C.Checked == Checked) return;
  C.Checked = Checked;
  Fire(C.OnClick);
}

void TReinstallForm::SetLines(TControl& C, std::vector<String> Lines) {
  if (C.Lines == Lines) return;
  C.Lines = std::move(Lines);
  Fire(C.OnChange);
}

void TReinstallForm::AddLine(TControl& C, StringView Line) {
  C.Lines.emplace_back(Line);
  Fire(C.OnChange);
}

void TReinstallForm::ClearLines(TControl& C) {
  if (C.Lines.empty()) return;
  C.Lines.clear();
  Fire(C.OnChange);
}

void TReinstallForm::SetCaption(TControl& C, StringView Text) {
  C.Text = String(Text);
  if (C.Kind == ckLabel) FitLabel(C);
}

void TReinstallForm::SetCaptionMeasure(TCaptionMeasure Measure) {
  FCaptionMeasure = std::move(Measure);
  for (TControl* c : FControls)
    if (c->Kind == ckLabel) FitLabel(*c);
}

void TReinstallForm::FitLabel(TControl& Label) {
  Label.Width = FCaptionMeasure(Label.Text, Label.Bold);
  Label.Left = Label.CaptionLeft;
  const TControl* field = Label.FocusControl;
  if (field != nullptr && field->Parent == Label.Parent && Label.Right() + kCaptionGap > field->Left)
    Label.Left = std::max(0, field->Left - kCaptionGap - Label.Width);
}

// ---- The user's actions -----------------------------------------------------------------------

void TReinstallForm::HandleEvent(const std::function<void()>& Handler) {
  try {
    Handler();
  } catch (const std::exception& E) {
    FDialogs.ShowError(ExceptionMessage(E));
  }
}

void TReinstallForm::UserSetText(TControl& C, StringView Text) {
  if (!Showing(C) || !C.Enabled) return;
  HandleEvent([&] { SetText(C, Text); });
}

void TReinstallForm::UserSelectItem(TControl& C, int Index) {
  if (!Showing(C) || !C.Enabled) return;
  HandleEvent([&] { SelectItem(C, Index); });
}

void TReinstallForm::UserSetChecked(TControl& C, bool Checked) {
  if (!Showing(C) || !C.Enabled) return;
  HandleEvent([&] { SetChecked(C, Checked); });
}

void TReinstallForm::UserSetLines(TControl& C, std::vector<String> Lines) {
  if (!Showing(C) || !C.Enabled) return;
  HandleEvent([&] { SetLines(C, std::move(Lines)); });
}

void TReinstallForm::UserClick(TControl& C) {
  if (!Showing(C) || !C.Enabled) return;
  // A click on a check box toggles it; its handler runs from the change.
  if (C.Kind == ckCheckBox) {
    HandleEvent([&] { SetChecked(C, !C.Checked); });
  } else if (C.OnClick) {
    HandleEvent(C.OnClick);
  }
}

void TReinstallForm::UserDropDown(TControl& C) {
  if (!Showing(C) || !C.Enabled || !C.OnDropDown) return;
  HandleEvent(C.OnDropDown);
}

}  // namespace zo
