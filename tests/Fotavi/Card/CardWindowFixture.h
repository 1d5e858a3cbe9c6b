// Test fixture of the card windows (the card tools, the slide show, the
// conversion) against the camera emulator: the message boxes go to a test
// interface of type `Ui`, and the windows' host counts modal runs on the
// fixture's counter and reads the test's own "Fotavi.ini"; both are put back
// at the end.
#pragma once

#include "CardFixture.h"
#include "CardHost.h"
#include "Common/ControlDialog.h"
#include "Platform/UiService.h"

namespace fotavi::test {

template <class Ui>
class CardWindowFixture : public CardFixture {
 protected:
  void SetUp() override {
    CardFixture::SetUp();
    previous_ = SetUserInterfaceService(&ui_);
    CardHost() = CCardHost{};
    CardHost().counter = &counter_;
    CardHost().iniPath = root_ + "/Fotavi.ini";
  }
  void TearDown() override {
    CardHost() = CCardHost{};
    SetUserInterfaceService(previous_);
    CardFixture::TearDown();
  }
  // Starts the camera (with the card unless `withCard` is false) and hands
  // its device to the windows.
  bool Start(bool withCard = true) {
    if (!StartCamera(withCard)) return false;
    CardHost().device = device_;
    return true;
  }

  Ui ui_;
  IUserInterfaceService* previous_ = nullptr;
  CControlDialog counter_;
};

}  // namespace fotavi::test
