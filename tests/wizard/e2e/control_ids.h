// The pages' control ids as a driver presses and reads them, under the
// names the pages give them; the same id stands for the same role on every
// page that has it.
#pragma once

#include "pages/resource.h"

namespace e2e {

enum ControlId : int {
    kNext = IDC_WELCOME_NEXT,
    kBack = IDC_DEST_BACK,
    kCancel = IDC_WELCOME_CANCEL,
    kInstall = IDC_READY_INSTALL,
    kBrowse = IDC_DEST_BROWSE,
    kFolderEdit = IDC_DEST_FOLDER,
    kSummary = IDC_READY_SUMMARY,
    kStatus = IDC_INSTALLING_STATUS,
    kDetail = IDC_INSTALLING_DETAIL,
    kFinishButton = IDC_FINISH_DONE,
    kRunNow = IDC_FINISH_RUN_NOW,
};

}  // namespace e2e
