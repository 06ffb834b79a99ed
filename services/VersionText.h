#pragma once

#include <QString>

#include "services/VersionFile.h"

namespace tv2 {

// "%d.%d%d.%d": the update dialog's form, second and third numbers run
// together (2.0.4.0 reads "2.04.0").
QString updateVersionText(const VersionNumbers& version);

// "%d.%d%d": the about box's form, the fourth number left out (2.1.12.3
// reads "2.112"). Empty when the first number is -1, the mark of a version
// that could not be read.
QString aboutVersionText(const VersionNumbers& version);

}  // namespace tv2
