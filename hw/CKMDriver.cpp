#include "hw/CKMDriver.h"

#include "hw/DriverErrors.h"
#include "platform/ErrorCodes.h"
#include "platform/Platform.h"

namespace tv2 {

CKMDriver::CKMDriver(Platform& platform) : m_platform(platform) {}

CKMDriver::~CKMDriver() = default;

bool CKMDriver::CreateDriverMutex(const std::string& name, uint32_t* error) {
  m_mutex.reset();
  bool existed = false;
  uint32_t code = kOk;
  m_mutex = m_platform.createNamedMutex(name, &existed, &code);
  if (error != nullptr) *error = m_mutex ? kOk : code;
  return m_mutex != nullptr;
}

int CKMDriver::Acquire(uint32_t* error, uint32_t timeoutMs) {
  uint32_t ignored = 0;
  uint32_t& err = error != nullptr ? *error : ignored;
  if (!m_mutex) {
    err = DRIVER_ERR_NO_MUTEX;
    return 0;
  }
  uint32_t result = m_mutex->wait(timeoutMs);
  if (result == kWaitObject0) {
    err = kOk;
    return 1;
  }
  // An abandoned wait hands over ownership; a failed Acquire never keeps it.
  if (result == kWaitAbandoned) m_mutex->release();
  err = result;
  return 0;
}

void CKMDriver::Release() {
  if (m_mutex) m_mutex->release();
}

void CKMDriver::CloseDriverMutex() { m_mutex.reset(); }

}  // namespace tv2
