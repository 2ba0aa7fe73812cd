// The undo after a failed or cancelled run, on the page's thread while the
// worker waits for it.
#include "engine/install_run.h"
#include "engine/install_journal.h"

#include "config/config.h"
#include "system/install_folder.h"
#include "system/file_ops.h"
#include "system/install_log.h"

void InstallRun::RollBack(int32_t stepsDone)
{
    // The bar runs back from the last entry begun to 1, one redraw a step.
    for (int32_t n = stepsDone; n >= 1; --n) {
        progress_.progressPosition.store(n);
        ShowProgress();
    }
    UndoRun();
    // Told once, after the rollback, so that what the box says is the state
    // the user is left with; the user's own cancel needs no box.
    if (!failureShown_ && !Stopped()) {
        const std::wstring text = FailureText(failure_, installDir_);
        if (!text.empty())
            host_->TellError(text.c_str());
    }
}

void InstallRun::UndoRun()
{
    host_->ShowStatus(nullptr);
    host_->ShowDetail(nullptr);
    ShowProgress();

    // Only what this run changed goes back: the earlier installation, and
    // the shortcuts, group and uninstall entry as they were before it
    // replaced them. A rollback that cannot finish (a file of the new
    // version in use) leaves the aside folder for the next run.
    if (journal_) {
        LogLine(journal_->Undo() ? L"rolled back: the earlier state is back"
                                 : L"rolled back in part: the rest goes back at the next run");
        journal_.reset();
    } else {
        LogLine(L"rolled back: nothing outside the staging folder had changed");
    }
    // Only a staging folder this run made or took over is deleted; a folder
    // of that name that was there before is someone else's.
    if (stagingOwned_)
        DeleteHeldStaging();
    staging_ = HeldFolder();
    // Nothing kept in place is held past the run.
    upgrade_.reset();
    progress_.progressPosition.store(0);
}
