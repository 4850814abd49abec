// TReinstallForm: the upgrade tool's one window, as a model without a toolkit.
//
// Every rule of the window lives here: its fields and their defaults, the
// command line, Versions.sl, the arrangement of the controls for each mode
// (sizes, positions, visibility, captions), the enabling rules and the event
// handlers. A view (the Qt window in upliner/qt/ReinstallWindow.h) creates one
// widget per control at the geometry held here, passes the user's actions to
// the User* entry points and shows the state afterwards. Everything modal
// goes through IFormDialogs, so tests run the whole window without a display.
//
// The handlers are spread over several files of this class:
//   ReinstallForm.cpp       start-up, arrangement, control state
//   Browsing.cpp            drop-down lists, reports, saving, directory picker
//   DatabaseReaders.cpp  BConnectClick, InspectDatabase and the readers
//   UpgradeStep.cpp         RunUpgradeStep
//   ReinstallSequence.cpp   BReinstallClick
//   AlterLangs.cpp          BAlterLangsClick
//   AlterSupport.cpp        BAlterArchiveClick, BAlterExtDBClick
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "core/ActionSet.h"
#include "core/IDList.h"
#include "core/String.h"
#include "core/VersionType.h"
#include "data/LifterContract.h"
#include "upliner/CommandLine.h"
#include "upliner/Controls.h"
#include "upliner/Dialogs.h"

namespace zo {

// The five connection values of the window at the moment a reader runs.
struct TConnectionValues {
  String ServerName, DatabaseName, UserName, Password;
  bool TrustedConnection = false;
};

// The window frame around the client area: a single, non-resizable border
// with a caption. Outer size = client size + frame.
inline constexpr int kFrameWidth = 6;
inline constexpr int kFrameHeight = 25;

// Design-time geometry of the window.
inline constexpr int kDesignClientWidth = 493;
inline constexpr int kDesignClientHeight = 311;
inline constexpr int kDesignLeft = 689;
inline constexpr int kDesignTop = 498;

// The items of CCheckIntegrity, in the order RunUpgradeStep reads them.
inline constexpr char16_t kIntegrityOnlyLast[] = u"Only last version";
inline constexpr char16_t kIntegrityAlways[] = u"Always";
inline constexpr char16_t kIntegrityNever[] = u"Never";

// How one run of the upgrade program ended, for the sequence that ran it.
enum class TStepResult : std::uint8_t {
  srDone = 0,               // the database reached the step's version cleanly: go on
  srNotReached = 1,         // it did not reach the version: stop; it keeps the one shown before
  srReachedWithErrors = 2,  // errors were reported after it reached the version, or its
                            // version could not be read: stop; show the step's version
};
using enum TStepResult;

class TReinstallForm {
 public:
  // AppDir is the directory of the program's executable: Versions.sl and the
  // version folders of the upgrade program live there.
  TReinstallForm(IFormDialogs& Dialogs, String AppDir);
  ~TReinstallForm();
  TReinstallForm(const TReinstallForm&) = delete;
  TReinstallForm& operator=(const TReinstallForm&) = delete;

  // ---- Life cycle ------------------------------------------------------------

  // Runs once before the window is shown. Args are the program's arguments
  // without its own name. A bad command line is shown in a message box and
  // sets Terminated(): the program then ends with exit code 0 and the window
  // is never shown.
  void FormCreate(const std::vector<String>& Args);
  // Runs whenever the window becomes active: the first time it arranges the
  // window for its mode, every time it applies the enabling rules.
  void FormActivate();
  // Releases what the window owns.
  void FormDestroy();

  bool Terminated() const { return FTerminated; }
  bool Closed() const { return FClosed; }
  const String& AppDir() const { return FAppDir; }

  // ---- The window itself -------------------------------------------------------

  String Caption = u"Reinstall Database";
  int Left = kDesignLeft;
  int Top = kDesignTop;
  int Width = kDesignClientWidth + kFrameWidth;    // outer size
  int Height = kDesignClientHeight + kFrameHeight;
  bool Visible = false;

  int ClientWidth() const { return Width - kFrameWidth; }
  int ClientHeight() const { return Height - kFrameHeight; }
  // Outer size changes; controls anchored to the right edge widen with it.
  void SetWidth(int AWidth);
  void SetHeight(int AHeight) { Height = AHeight; }

  // Hides or shows the window; the view is told at once, because the
  // upgrade actions hide it before blocking on the upgrade program.
  void Hide();
  void Show();
  // Closes the window, which ends the program.
  void Close();

  // Told about Hide, Show and Close while a handler still runs.
  std::function<void()> OnVisibilityChange;
  std::function<void()> OnClose;

  // ---- Controls ----------------------------------------------------------------

  TControl Panel1, InnerImage, PageName, PageDescription, Bevel1;
  TControl GBDatabase, LServerName, CServerName, LUserName, EUserName, LPassword, EPassword,
      CBTrustedConnection, LDatabaseName, CDatabaseName;
  TControl GBVersion, Label1, EActualVersion, Label2, ETargetVersion;
  TControl LNewName, ENewName, LNewDir, ENewDir, SBNewDir;
  TControl LCheckIntegrity, CCheckIntegrity;
  TControl MState, MChanges, CBCheckChanges, CBShowChanges;
  TControl BAlterLangs, BAlterArchive, BAlterExtDB, BSave, BConnect, BReinstall, BClose;

  // Every control, containers before what they hold, in creation order.
  const std::vector<TControl*>& Controls() const { return FControls; }
  // The control of that name, or nullptr.
  TControl* FindControl(StringView Name) const;
  // A control's position in window (client) coordinates.
  int WindowLeft(const TControl& C) const;
  int WindowTop(const TControl& C) const;
  // Visible itself and every container it sits in.
  bool Showing(const TControl& C) const;

  // ---- Fields --------------------------------------------------------------------

  bool FConnected = false;
  String FDriverName = u"SQL Server";
  bool FArchiveSupport = false;
  bool FExtDBSupport = false;
  TRReinstallAction FReinstallAction = rraReinstall;
  TMTSActionType FLangActions;
  TMTSActionType FArchiveActions;
  TMTSActionType FExtDBActions;
  std::vector<String> FVersionSL;
  bool FInnosetupForm = false;

  // ---- Changes made by the program ---------------------------------------------
  // Each runs the control's bound handler when the value changes, the way a
  // toolkit control reports programmatic changes too.

  void SetText(TControl& C, StringView Text);
  void SelectItem(TControl& C, int Index);
  void SetChecked(TControl& C, bool Checked);
  void SetLines(TControl& C, std::vector<String> Lines);
  void AddLine(TControl& C, StringView Line);
  void ClearLines(TControl& C);
  // Replaces a label's or button's caption; labels size themselves to it.
  void SetCaption(TControl& C, StringView Text);

  // The width in pixels a caption takes in the window's font. Without a
  // toolkit it is estimated; a view sets the font's real metrics, and every
  // label is sized again at once.
  using TCaptionMeasure = std::function<int(StringView Caption, bool Bold)>;
  void SetCaptionMeasure(TCaptionMeasure Measure);
  // Changes a container's width; its right-anchored controls widen with it.
  void SetControlWidth(TControl& C, int AWidth);

  // ---- The user's actions ----------------------------------------------------------
  // What a view calls for the user's input. Each runs as one event: an error
  // escaping its handler is shown in the standard error box and the window
  // stays usable. Disabled or hidden controls do not react.

  void UserSetText(TControl& C, StringView Text);
  void UserSelectItem(TControl& C, int Index);
  void UserSetChecked(TControl& C, bool Checked);
  void UserSetLines(TControl& C, std::vector<String> Lines);
  void UserClick(TControl& C);
  void UserDropDown(TControl& C);

  // Runs Handler; an error that escapes it goes to the standard error box.
  void HandleEvent(const std::function<void()>& Handler);

  // ---- Handlers ----------------------------------------------------------------------

  // A connection field or the integrity choice changed: connect again.
  void EServerNameChange();
  // A directory, name or version field changed: re-apply the rules.
  void EActualVersionChange();
  // The enabling rules and the captions of the alter buttons.
  void UpdateControls();

  void CServerNameDropDown();
  void CDatabaseNameDropDown();
  void MStateChange();
  void CBShowChangesClick();
  void BSaveClick();
  void SBNewDirClick();
  void BCloseClick();

  void BConnectClick();       // DatabaseReaders.cpp
  void InspectDatabase();     // DatabaseReaders.cpp
  // Forgets the connection (the window shows it) and inspects the database
  // again, so that an action starts from what the database holds now: a
  // refusal escapes with the window disconnected.
  void InspectAfresh();       // DatabaseReaders.cpp
  void BReinstallClick();     // ReinstallSequence.cpp
  void ShowVersionAfterFailedStep();  // ReinstallSequence.cpp
  void BAlterLangsClick();    // AlterLangs.cpp
  void BAlterArchiveClick();  // AlterSupport.cpp
  void BAlterExtDBClick();    // AlterSupport.cpp
  // Runs the upgrade program once (UpgradeStep.cpp).
  TStepResult RunUpgradeStep(const String& AVersion, TMTSActionType ALangActions, TSupportAction AArchiveAction,
                             TSupportAction AExtDBAction, bool ALastStep);

  // ---- Database readers (DatabaseReaders.cpp) ----------------------------------
  // Each opens a connection of its own for one query and frees it again.

  TConnectionValues ConnectionValues() const;
  // False when the encrypted copy names another version than the plain
  // column; Version is left alone when the stamp table has no row.
  bool ReadDatabaseVersion(const TConnectionValues& C, String& Version, TCDBVersionType& VersionType);
  void ReadDatabaseLanguages(const TConnectionValues& C, TIDList& Languages);
  bool ReadArchiveSupport(const TConnectionValues& C);
  bool ReadExtDBSupport(const TConnectionValues& C);

  // ---- The installation (UpgradeStep.cpp) --------------------------------------------
  // Given by the installer as LicenceNumber.txt and TargetLanguages.txt beside
  // the program; empty when the file is absent.

  String LicenceNumber() const;
  // Read by the rule the upgrade program reads it with (data/LanguageCodes.h).
  std::vector<TIDValue> TargetLanguages() const;

  IFormDialogs& Dialogs() { return FDialogs; }

 private:
  void CreateControls();
  void BindHandlers();
  void LoadSupportedVersions();
  // The mode arrangement, run by the first FormActivate.
  void ArrangeForMode();
  void ArrangeReinstallMode(int B);
  void ArrangeAlterMode(int B);

  // Sizes a label to its caption and keeps the caption clear of its field.
  void FitLabel(TControl& Label);

  IFormDialogs& FDialogs;
  String FAppDir;
  TCaptionMeasure FCaptionMeasure;
  std::vector<TControl*> FControls;
  bool FArranged = false;
  bool FTerminated = false;
  bool FClosed = false;
};

// Hides the window for as long as it lives and shows it again however the
// guarded part ends, an unexpected failure included: while the upgrade
// program runs, only its own window is to be seen. BeforeShow, when given,
// runs just before the window comes back.
class THiddenForm {
 public:
  explicit THiddenForm(TReinstallForm& Form, std::function<void()> BeforeShow = {})
      : FForm(Form), FBeforeShow(std::move(BeforeShow)) {
    FForm.Hide();
  }
  ~THiddenForm() {
    if (FBeforeShow) FBeforeShow();
    FForm.Show();
  }
  THiddenForm(const THiddenForm&) = delete;
  THiddenForm& operator=(const THiddenForm&) = delete;

 private:
  TReinstallForm& FForm;
  std::function<void()> FBeforeShow;
};

}  // namespace zo
