// The port chosen from the list's text, and the reply read.
#include <gtest/gtest.h>

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
