#include "core/CaptureTypes.h"

std::string_view StepName(TCaptureStep step) {
  switch (step) {
    case TCaptureStep::Startup:
      return "start-up";
    case TCaptureStep::Open:
      return "open";
    case TCaptureStep::Bind:
      return "bind";
    case TCaptureStep::ReceiveAll:
      return "receive-all";
    case TCaptureStep::Receive:
      return "receive";
  }
  return "set-up";
}
