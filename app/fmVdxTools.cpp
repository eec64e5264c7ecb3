// The tools TFormVardex starts from its menus, toolbar and macro commands:
// Update, Copy, Retrieve and Pack run in the run layer (TToolRun), with the
// window as their driver.
#include "fmVdx.h"

void TFormVardex::RunUpdate() { run_->RunUpdate(); }
void TFormVardex::CopySteps() { run_->CopySteps(); }
void TFormVardex::RunCopy() { run_->RunCopy(); }
void TFormVardex::VerifySafeCopy() { run_->VerifySafeCopy(); }
void TFormVardex::SwapInRetrieved(const QString& built) { run_->SwapInRetrieved(built); }

void TFormVardex::MoveSetAside(const QString& built, const QString& d,
                               std::vector<engine::FileSwap>& swaps) {
  run_->MoveSetAside(built, d, swaps);
}

void TFormVardex::RetrieveSteps() { run_->RetrieveSteps(); }
void TFormVardex::RunRetrieve() { run_->RunRetrieve(); }
void TFormVardex::RunPack() { run_->RunPack(); }
