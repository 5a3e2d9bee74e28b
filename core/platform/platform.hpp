// Platform services the window needs and the core never implements itself:
// the serial-port control, the Yes/No box, the open dialog and the modal
// block dialog. The numbered sequential files live in platform/seq_files.hpp.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace torvela {

struct main_form;
struct block_form;

// The serial-port control. Property names follow the control the tool was
// designed around; the engine polls, there are no reception events.
class serial_port {
public:
    virtual ~serial_port() = default;
    virtual void CommPort(int port) = 0;
    virtual void Settings(std::string_view settings) = 0;
    virtual void InputLen(int len) = 0;
    virtual void InputMode(int mode) = 0;
    virtual bool PortOpen() const = 0;
    // Opening may fail (no such port, port held elsewhere): returns false and
    // the port stays closed. Closing always succeeds.
    virtual bool PortOpen(bool open) = 0;
    // Bytes received and not yet read; negative when the line is gone.
    virtual int InBufferCount() = 0;
    // Everything received so far; the buffer is empty afterwards.
    virtual std::string Input() = 0;
    // Sends the bytes in order; false when the platform could not send
    // (the port is then treated as lost).
    virtual bool Output(std::span<const std::uint8_t> bytes) = 0;
    // The platform's reason why the last open failed or the line was lost;
    // empty when there is none.
    virtual std::string last_error() const { return {}; }
    // The device the last open tried ("/dev/ttyUSB0", "\\.\COM3").
    virtual std::string device() const { return {}; }
    // What the operator can do about the last failed open, as this
    // platform has it; empty when the port has nothing to add.
    virtual std::string open_advice() const { return {}; }
    // The port as the operator named it, where that was a device rather
    // than COMn; empty otherwise.
    virtual std::string named_device() const { return {}; }
    // A line for the trace of the port, when it keeps one; a job's first
    // note starts the lines kept whole for that job.
    enum class note_kind : std::uint8_t { plain, job_begins };
    virtual void note(std::string text, note_kind kind = note_kind::plain) {
        (void)text;
        (void)kind;
    }
};

class message_box {
public:
    virtual ~message_box() = default;
    // True for Yes. Timers keep ticking while the box is open.
    virtual bool yes_no(std::string_view prompt, std::string_view title) = 0;
    // A message with one OK button that the operator must see; it does not
    // hold up the timers or the caller.
    virtual void inform(std::string_view text, std::string_view title) = 0;
};

class dialogs {
public:
    virtual ~dialogs() = default;
    // The open dialog; returns the chosen path or an empty text on cancel.
    virtual std::string open_file(std::string_view filter) = 0;
    // Shows block_form modally; returns when it is unloaded.
    virtual void show_block_form(main_form& f, block_form& dlg) = 0;
};

}  // namespace torvela
