// The writer link: port choice, connect and disconnect, the open-port
// prologue, sending frames and reading replies.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "console/main_form.hpp"

namespace torvela {

inline constexpr const char* port_settings = "57600,N,8,1";
inline constexpr const char* keep_text = "keep in commimucation";
inline constexpr const char* stop_text = "commimucation stop";

// Reply thresholds of the wait steps.
inline constexpr int ack_len = 2;
inline constexpr int lock_answer_len = 4;
inline constexpr int page_len = 256;

void Combo2_Click(main_form& f);
void Combo2_Change(main_form& f);
void command1_Click(main_form& f);
void Command3_Click(main_form& f);
void Combo1_Click(main_form& f);

// Opens the port with the fixed settings on `comm_port`. A failed open leaves
// the port closed and shows "PORT OPEN ERROR"; returns whether it is open.
bool open_port(main_form& f);
// "COMn (device)", for a message; "COMn" before a device was tried.
std::string port_named(const main_form& f);
// The prologue of the job handlers: opens the port when it is closed.
bool open_port_prologue(main_form& f);
// Closes the port when open and shows "commimucation stop" in Combo1.
void close_port(main_form& f);

// Puts bytes on the line. Nothing is sent on a closed port; a send the
// platform rejects closes the port, and the engine then treats it as lost.
void send_bytes(main_form& f, std::span<const std::uint8_t> bytes);
// A two-byte command: the code twice in tx_frame, sent whole.
void send_command(main_form& f, std::uint8_t code);

// The reply read at the start of every wait step: false while fewer than
// `threshold` bytes wait; else the whole buffer goes to rx_text / rx_bytes.
bool reply_read(main_form& f, int threshold);
// Both of the first two reply bytes equal `code`.
bool ack(const main_form& f, std::uint8_t code);

void send_address_frame(main_form& f);
// The next chosen block's frame goes with tx_frame's command, and the
// exchange waits at `echo_row`; none left: the exchange is over.
void send_block_command(main_form& f, std::uint8_t echo_row);
// Whether send_block_command has a block to send (block_select 2..8).
bool block_to_send(const main_form& f);
// The block frame prepared by send_block_command: shown in Label15..Label18
// and sent; `next` waits for the writer's answer.
void send_block_frame(main_form& f, std::uint8_t next);

// The start of a job that turns the busy indicator: Timer3 on, then the
// open-port prologue; a port that cannot be opened stops the indicator again.
bool open_port_with_busy_indicator(main_form& f);

}  // namespace torvela
