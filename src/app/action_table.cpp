#include "app/action_table.hpp"

#include "app/app_delegate.hpp"
#include "output/advanced_export.hpp"

namespace tw::app {

const std::vector<ActionRow>& ActionTable() {
  static const std::vector<ActionRow> table = {
      {"ready", [](AppDelegate& app, const Json&) { app.ready(); }},
      {"chooseProjectReference", [](AppDelegate& app, const Json&) { app.workbench().chooseProjectReference(); }},
      {"exportProjectArchive", [](AppDelegate& app, const Json& body) { app.workbench().exportProjectArchive(body); }},
      {"openProjectArchive", [](AppDelegate& app, const Json&) { app.workbench().openProjectArchive(); }},
      {"listProjectBackups", [](AppDelegate& app, const Json&) { app.workbench().listProjectBackups(); }},
      {"openProjectBackup", [](AppDelegate& app, const Json& body) { app.workbench().openProjectBackup(body); }},
      {"relinkProjectPhotos", [](AppDelegate& app, const Json& body) { app.workbench().relinkProjectPhotos(body); }},
      {"previewProjectStyle", [](AppDelegate& app, const Json& body) { app.workbench().previewProjectStyle(body); }},
      {"exportProjectStyle", [](AppDelegate& app, const Json& body) { app.workbench().exportProjectStyle(body); }},
      {"cancelProjectStyle", [](AppDelegate& app, const Json&) { app.workbench().cancelProjectStyle(); }},
      {"workbenchHealth", [](AppDelegate& app, const Json&) { app.workbench().workbenchHealth(); }},
      {"exportHealthReport", [](AppDelegate& app, const Json&) { app.workbench().exportHealthReport(); }},
      {"chooseFolder", [](AppDelegate& app, const Json&) { app.chooseFolder(); }},
      {"choosePhotos", [](AppDelegate& app, const Json& body) { app.choosePhotos(FieldOr(body, "path", nullptr)); }},
      {"checkForAppUpdate", [](AppDelegate& app, const Json& body) { app.appUpdate().checkForAppUpdate(body); }},
      {"downloadAppUpdate", [](AppDelegate& app, const Json&) { app.appUpdate().downloadAppUpdate(); }},
      {"saveUpdateSettings", [](AppDelegate& app, const Json& body) { app.appUpdate().saveUpdateSettings(body); }},
      {"saveLensSettings", [](AppDelegate& app, const Json& body) { app.saveLensSettings(body); }},
      {"chooseFaceTemplateImage",
       [](AppDelegate& app, const Json& body) { app.faceBatch().chooseFaceTemplateImage(StringField(body, "stage")); }},
      {"chooseFaceBatchPhotos", [](AppDelegate& app, const Json&) { app.faceBatch().chooseFaceBatchPhotos(); }},
      {"generateFaceBatchItem", [](AppDelegate& app, const Json& body) { app.faceBatch().generateFaceBatchItem(body); }},
      {"cancelFaceBatchGeneration", [](AppDelegate& app, const Json&) { app.faceBatch().cancel(); }},
      {"chooseSaveLocation", [](AppDelegate& app, const Json&) { app.faceBatch().chooseSaveLocation(); }},
      {"saveGRSAISettings", [](AppDelegate& app, const Json& body) { app.saveGRSAISettings(body); }},
      {"testGRSAIConnection", [](AppDelegate& app, const Json&) { app.testGRSAIConnection(); }},
      {"scanPath",
       [](AppDelegate& app, const Json& body) {
         // The page names a folder by its absolute path; an empty or relative path imports nothing.
         app.scanFolder(StringField(body, "path"));
       }},
      {"importRequestedPhotos", [](AppDelegate& app, const Json& body) { app.importRequestedPhotos(body); }},
      {"watchScanProgress", [](AppDelegate& app, const Json& body) { app.watchScanProgress(body); }},
      {"analyze", [](AppDelegate& app, const Json& body) { app.analysisRun().analyzePhotos(body); }},
      {"cancelAnalysis", [](AppDelegate& app, const Json&) { app.analysisRun().cancel(); }},
      {"cloudAnalyze", [](AppDelegate& app, const Json& body) { app.cloudAnalysisRun().startCloudAnalysis(body); }},
      {"compareBurst", [](AppDelegate& app, const Json& body) { app.burstComparison().startBurstComparison(body); }},
      {"cancelBurst", [](AppDelegate& app, const Json&) { app.burstComparison().cancel(); }},
      {"cancelCloudAnalysis", [](AppDelegate& app, const Json&) { app.cloudAnalysisRun().cancel(); }},
      {"saveState",
       [](AppDelegate& app, const Json& body) {
         auto it = body.find("state");
         app.saveState(it == body.end() ? nullptr : &*it);
       }},
      {"previewPhoto", [](AppDelegate& app, const Json& body) { app.previewPhoto(body); }},
      {"editPhoto", [](AppDelegate& app, const Json& body) { app.editPhoto(body); }},
      {"photoMetadata", [](AppDelegate& app, const Json& body) { app.photoMetadata(body); }},
      {"photoRegion", [](AppDelegate& app, const Json& body) { app.photoRegion(body); }},
      {"photoFaces", [](AppDelegate& app, const Json& body) { app.photoFaces(body); }},
      {"trashPhotos",
       [](AppDelegate& app, const Json& body) { app.output().trashPhotos(FieldOr(body, "photos", Json::array())); }},
      {"trashRatedPhotos",
       [](AppDelegate& app, const Json& body) {
         app.output().trashPhotos(FieldOr(body, "photos", Json::array()),
                                  Json{{"ratingAction", true}, {"token", FieldOr(body, "token", "")}});
       }},
      {"exportRatedPhotos", [](AppDelegate& app, const Json& body) { app.output().exportRatedPhotos(body); }},
      {"chooseRatingExportFolder", [](AppDelegate& app, const Json&) { app.output().chooseRatingExportFolder(); }},
      {"exportReviewManifest", [](AppDelegate& app, const Json& body) { app.output().exportReviewManifest(body); }},
      {"exportAdvanced",
       [](AppDelegate& app, const Json& body) {
         app.output().exportPhotos(FieldOr(body, "photos", Json::array()), FieldOr(body, "options", Json::object()));
       }},
      {"export",
       [](AppDelegate& app, const Json& body) {
         app.output().exportPhotos(FieldOr(body, "photos", Json::array()), output::PlainExportOptions());
       }},
      {"openWorkflowApp", [](AppDelegate& app, const Json& body) { app.workflowApps().openWorkflowApp(body); }},
      {"refreshComfySetup", [](AppDelegate& app, const Json&) { app.comfySetup().sendComfySetupState(); }},
      {"downloadComfyDesktop", [](AppDelegate& app, const Json&) { app.comfySetup().openOfficialComfyDownload(); }},
      {"openComfyDesktop", [](AppDelegate& app, const Json&) { app.comfySetup().openComfyDesktop(); }},
      {"installComfyModels", [](AppDelegate& app, const Json&) { app.comfySetup().installComfyModels(); }},
      {"checkComfyConnection", [](AppDelegate& app, const Json&) { app.comfySetup().checkComfyConnection(); }},
      {"openFolder", [](AppDelegate& app, const Json& body) { app.openFolder(StringField(body, "path")); }},
      // The page's answer to flushState: its pending save has been posted.
      {"stateFlushed", [](AppDelegate& app, const Json& body) { app.stateFlushed(body); }},
  };
  return table;
}

void DispatchScriptMessage(AppDelegate& app, const Json& body) {
  static const Json empty = Json::object();
  const Json& message = body.is_object() ? body : empty;
  auto action = message.find("action");
  if (action == message.end() || !action->is_string()) return;
  const std::string& name = action->get_ref<const std::string&>();
  // A message nested this deep is no page's; echoing or storing it would overflow the stack when
  // its JSON text is written. A state is answered as the invalid data it is; the rest is ignored
  // like any body that is not a message.
  if (NestedDeeperThan(message, kMaxJsonNesting)) {
    if (name == "saveState") app.saveState(nullptr);
    return;
  }
  for (const auto& row : ActionTable()) {
    if (row.action == name) {
      row.run(app, message);
      return;
    }
  }
}

}  // namespace tw::app
