// The reinstall sequence behind BReinstall: the database is brought from its
// version to the target one version at a time, in the order of Versions.sl,
// one run of the upgrade program per version.
#include "core/Exception.h"
#include "upliner/ReinstallForm.h"

namespace zo {

namespace {

constexpr char16_t kSVersionNotSupported[] = u"Version \"%s\" of your database is not supported";
constexpr char16_t kSNewestVersion[] = u"You have newest supported version. Reinstall is not neccessary";
constexpr char16_t kSBackupRecommendation[] =
    u"It is highly recommended that you perform a backup of your database before starting the upgrade process.\r\n"
    u"We assume no responsibility for possible irrecoverable database corruption during the upgrade.\r\n"
    u"Do you want to continue anyway?";
constexpr char16_t kSRecommendationCaption[] = u"Recommendation";

}  // namespace

// A step can fail after its program moved the database (a result file that
// could not be read, a server that went away once the change was made): the
// window then shows the version the database holds now, and when that cannot
// be read it gives up its connected state, so that Connect reads the truth
// rather than the window vouching for a version it no longer knows.
void TReinstallForm::ShowVersionAfterFailedStep() {
  bool known = false;
  try {
    String version;
    TCDBVersionType versionType = cdbvtRelease;
    known = ReadDatabaseVersion(ConnectionValues(), version, versionType);
    known = known && !version.empty();
    if (known) SetText(EActualVersion, version);
  } catch (const Exception&) {
  }
  if (!known) {
    FConnected = false;
    UpdateControls();
  }
}

void TReinstallForm::BReinstallClick() {
  // The stamp is checked again against the fields as they are now; a refusal
  // (and the two checks below) escapes to the standard error box with the
  // window untouched and nothing run.
  InspectAfresh();

  const String actual = EActualVersion.Text;
  if (IndexOfVersion(FVersionSL, actual) < 0) throw Exception(kSVersionNotSupported, {actual});
  if (IndexOfVersion({FVersionSL.back()}, actual) == 0) throw Exception(kSNewestVersion);

  if (!FDialogs.AskYesNo(kSBackupRecommendation, kSRecommendationCaption, miWarning)) return;

  // With Check Changes ticked, Show Changes is offered once the window is
  // back, also when no step ran.
  const THiddenForm hidden(*this, [this] {
    if (CBCheckChanges.Checked) CBShowChanges.Enabled = true;
  });
  try {
    ClearLines(MState);
    ClearLines(MChanges);
    const int from = IndexOfVersion(FVersionSL, EActualVersion.Text);
    const int to = IndexOfVersion(FVersionSL, ETargetVersion.Text);
    for (int i = from + 1; i <= to; ++i) {
      const String version = FVersionSL[static_cast<std::size_t>(i)];
      const TStepResult result = RunUpgradeStep(version, {}, saKeep, saKeep, i == to);
      if (result == srNotReached) break;
      SetText(EActualVersion, version);
      if (result == srReachedWithErrors) break;
    }
  } catch (const Exception& E) {
    // The report says how far the steps got; the version shown is read
    // again, as the failed step may have moved the database.
    FDialogs.ShowMessage(E.Message());
    ShowVersionAfterFailedStep();
  }
}

}  // namespace zo
