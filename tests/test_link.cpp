// Port choice, connect and disconnect, open failures, the reply read and the
// block command sender.
#include <gtest/gtest.h>

#include "engine/engine.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "support.hpp"

using namespace torvela;

struct port_name_case {
    const char* text;
    int expected;
};

class PortChoice : public ::testing::TestWithParam<port_name_case> {};

TEST_P(PortChoice, TextMapsToPortNumber) {
    writer_sim::rig r;
    r.form->comm_port = 2;
    r.form->Combo2.caption = GetParam().text;
    Combo2_Click(*r.form);
    EXPECT_EQ(r.form->comm_port, GetParam().expected);
    r.form->comm_port = 2;
    Combo2_Change(*r.form);
    EXPECT_EQ(r.form->comm_port, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Combo2, PortChoice,
                         ::testing::Values(port_name_case{"COM7", 7}, port_name_case{"COM1", 1},
                                           port_name_case{"COM16", 16}, port_name_case{"com7", 2},
                                           port_name_case{"COM17", 2}, port_name_case{"COM0", 2},
                                           port_name_case{"COM 7", 2}, port_name_case{"", 2}));

TEST(Connect, DisconnectClosesTheFilesAndKeepsTheJob) {
    writer_sim::rig r;
    main_form& f = *r.form;
    private_work_folder dir;
    command1_Click(f);
    ASSERT_TRUE(r.files.open_output(1, dir.file("one")));
    ASSERT_TRUE(r.files.open_output(2, dir.file("two")));
    f.job_no = 7;
    f.engine_step = 31;
    Command3_Click(f);
    EXPECT_FALSE(r.files.is_open(1));
    EXPECT_FALSE(r.files.is_open(2));
    EXPECT_EQ(f.job_no, 7);
    EXPECT_EQ(f.engine_step, 31);
}

TEST(Connect, OpenFailureShowsTheErrorAndStaysClosed) {
    writer_sim::rig r;
    main_form& f = *r.form;
    f.Combo2.caption = "COM9";
    Combo2_Click(f);
    command1_Click(f);
    EXPECT_FALSE(r.port.PortOpen());
    EXPECT_EQ(f.Label9.caption, "PORT OPEN ERROR");
    EXPECT_EQ(f.Combo1.caption, "commimucation stop");

    // A job button on a missing port starts nothing.
    f.Label9.caption.clear();
    allunlock_erase_Click(f);
    EXPECT_EQ(f.Label9.caption, "PORT OPEN ERROR");
    EXPECT_EQ(f.job_no, 0);
    EXPECT_EQ(f.engine_step, 0);
    EXPECT_TRUE(test_support::busy_pictures_reset(f));
    r.run_for(2'000'000);
    EXPECT_TRUE(r.line.log.empty());
    EXPECT_EQ(r.port.sends_on_closed_port, 0);
}

// The reply read looks at the buffer once a tick and takes everything when
// the threshold is reached.
TEST(ReplyRead, WaitsForTheThresholdThenTakesAll) {
    writer_sim::rig r;
    main_form& f = *r.form;
    command1_Click(f);
    r.port.rx_buffer = std::string("\x20", 1);
    EXPECT_FALSE(reply_read(f, ack_len));
    EXPECT_EQ(r.port.rx_buffer.size(), 1u);
    r.port.rx_buffer += std::string("\x20\x20", 2);
    ASSERT_TRUE(reply_read(f, ack_len));
    EXPECT_EQ(f.Label8.caption, "3");
    EXPECT_EQ(f.rx_bytes, (std::vector<std::uint8_t>{0x20, 0x20, 0x20}));
    EXPECT_TRUE(ack(f, 0x20));
    EXPECT_TRUE(r.port.rx_buffer.empty());
}

// A driver that counts bytes it never delivers: the reply is judged on what
// came, and nothing past it is read.
TEST(ReplyRead, ShortDeliveryReadsAsZeros) {
    writer_sim::rig r;
    main_form& f = *r.form;
    command1_Click(f);
    r.port.rx_buffer = std::string("\x40\x40", 2);
    r.port.phantom_bytes = 2;
    ASSERT_TRUE(reply_read(f, lock_answer_len));
    EXPECT_EQ(f.rx_bytes, (std::vector<std::uint8_t>{0x40, 0x40, 0, 0}));
}

TEST(ReplyRead, LostLineReadsAsClosedPort) {
    writer_sim::rig r;
    command1_Click(*r.form);
    r.port.lost = true;
    EXPECT_FALSE(reply_read(*r.form, ack_len));
    EXPECT_FALSE(r.port.PortOpen());
}

struct block_sender_case {
    std::vector<int> ticked;          // block_select indexes set to 1
    std::vector<int> codes_in_order;  // block codes the successive calls take
};

class BlockSender : public ::testing::TestWithParam<block_sender_case> {};

TEST_P(BlockSender, TakesTheBlocksInOrder) {
    writer_sim::rig r;
    main_form& f = *r.form;
    command1_Click(f);
    for (int i : GetParam().ticked) f.block_select[static_cast<std::size_t>(i)] = 1;
    std::vector<int> codes;
    for (int call = 0; call < 10; ++call) {
        f.engine_step = 4;
        f.tx_frame = {0x20, 0x20};
        send_block_command(f);
        if (f.engine_step == 0) break;
        EXPECT_EQ(f.engine_step, 41);
        EXPECT_EQ(f.block_frame[0], 0xD8);
        codes.push_back(f.block_frame[1]);
    }
    EXPECT_EQ(codes, GetParam().codes_in_order);
    // Each call sent the two-byte command, never the block frame.
    EXPECT_EQ(test_support::frames(r).size(), codes.size());
    for (const auto& fr : test_support::frames(r))
        EXPECT_EQ(fr, (std::vector<std::uint8_t>{0x20, 0x20}));
}

INSTANTIATE_TEST_SUITE_P(
    Selections, BlockSender,
    ::testing::Values(block_sender_case{{3, 7}, {1, 5}}, block_sender_case{{}, {}},
                      block_sender_case{{0, 1}, {}},
                      block_sender_case{{0, 1, 2, 3, 4, 5, 6, 7, 8}, {0, 1, 2, 3, 4, 5, 6}},
                      block_sender_case{{8}, {6}}));
