// What a window runs its form on, whatever draws it: the work files, the
// job history with the kept units, the serial device and its trace.
#pragma once

#include "device_port.hpp"
#include "link/trace.hpp"
#include "platform/job_history.hpp"
#include "platform/seq_files.hpp"
#include "platform/shop_outbox.hpp"

namespace torvela {

struct form_services {
    std_seq_files files;
    job_history history = job_history::for_user();
    device_port device;
    traced_port serial{device};
    // The shop the bench publishes to, when one is named: a courier of its
    // own carries the records, so the window never waits for the network.
    shop_address shop = shop_address::for_user();
    std::unique_ptr<shop_courier> courier =
        shop.named() ? std::make_unique<shop_courier>(history, shop, make_http_client()) : nullptr;

    // The form's records go to the shop through the courier.
    void attach(main_form& f) {
        if (courier) f.publish = [this](const job_record& r) { return courier->publish(r); };
    }
    // What the courier has to tell since the last look, into the form's
    // shop note (the window shows it under the status line): true when
    // there was something.
    bool take_shop_note(main_form& f) {
        if (!courier) return false;
        const std::optional<std::string> note = courier->take_note();
        if (!note) return false;
        f.shop_note = *note;
        serial.note(*note);
        return true;
    }
};

}  // namespace torvela
