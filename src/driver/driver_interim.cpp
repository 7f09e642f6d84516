// Driver methods that the add-in boundary carries until their own subsystems take them over. A
// method whose work is not built yet refuses honestly: False with code 35 ("Возможность не
// поддерживается"), so the host never takes a placeholder for a success. When a subsystem defines
// one of these methods, its line here goes.
#include "driver/mirel_driver.h"
#include "device/result_codes.h"

bool CMirelDriver::NotSupported() {
  m_pDevice->nLastResult = kResultNotSupported;
  return false;
}

