#include "services/VersionText.h"

namespace tv2 {

QString updateVersionText(const VersionNumbers& version) {
  return QString::asprintf("%d.%d%d.%d", version[0], version[1], version[2], version[3]);
}

QString aboutVersionText(const VersionNumbers& version) {
  if (version[0] == -1) return {};
  return QString::asprintf("%d.%d%d", version[0], version[1], version[2]);
}

}  // namespace tv2
