#include "base/process_state.h"

#include "kelmar/libkelmar.h"

namespace kelmar {
constinit ProcessState process_state;
}  // namespace kelmar

constinit void* sqluv_handle = nullptr;
constinit sqluvint_fn f_sqluvint = nullptr;
constinit sqluvget_fn f_sqluvget = nullptr;
constinit sqluvput_fn f_sqluvput = nullptr;
constinit sqluvend_fn f_sqluvend = nullptr;
constinit sqluvdel_fn f_sqluvdel = nullptr;
constinit db2VendorGetNextObj_fn f_db2VendorGetNextObj = nullptr;

constinit std::atomic<const char*> xjReg{nullptr};

constinit char vorlan_vm[kelmar::kVorlanVmBytes] = {};
