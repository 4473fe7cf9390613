// The table of the real setup operations.
#include "setup/setup_stages.h"

#include "legacy/previous_generation.h"
#include "payload/cabinet_extractor.h"
#include "payload/file_digest.h"
#include "payload/payload_dropper.h"
#include "setup/installed_product.h"
#include "setup/installer_launch.h"

namespace qarv {

const SetupStages& RealSetupStages() {
    static const SetupStages stages = {
        IsProductInstalled, RegisterRestart, RemovePreviousGeneration, LoadSetupSettings, ChooseWorkFolder,
        DropPayload,        ExtractCabinet,  ComputeFileMd5,           LaunchInstaller,
    };
    return stages;
}

}  // namespace qarv
