// Snapshot, AVI saving and clip copy commands of the main window.
#include "app/window/live_form.h"

namespace orvan::app {

void TLiveForm::SnapShotBtnClick() {}

void TLiveForm::SnapShot1Click() {}

void TLiveForm::VideoImageMouseUp(int, int, int) {}

void TLiveForm::SaveAVIBtnClick() {}

void TLiveForm::StopAVIBtnClick() {}

void TLiveForm::CopyBtnClick() {}

}  // namespace orvan::app
