// What a window runs its form on, whatever draws it: the work files, the
// job history with the kept units, the serial device and its trace.
#pragma once

#include "device_port.hpp"
#include "link/trace.hpp"
#include "platform/job_history.hpp"
#include "platform/seq_files.hpp"

namespace torvela {

struct form_services {
    std_seq_files files;
    job_history history = job_history::for_user();
    device_port device;
    traced_port serial{device};
};

}  // namespace torvela
