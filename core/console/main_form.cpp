#include "console/main_form.hpp"

#include <algorithm>

#include "console/cpu_family.hpp"

#include "platform/seq_files.hpp"

namespace torvela {


main_form::main_form(serial_port& port, message_box& box, dialogs& dlg, seq_files& f)
    : MSComm1(port), msgbox(box), dialog(dlg), files(f) {
    for (const control_design& d : control_table()) {
        control& c = this->*(d.member);
        c.name = d.name;
        c.kind = d.kind;
        c.left = d.left;
        c.top = d.top;
        c.width = d.width;
        c.height = d.height;
        c.caption = d.caption;
        c.visible = d.visible;
        c.click = d.click;
        c.change = d.change;
        c.service_left = d.service_left;
        c.service_top = d.service_top;
        controls.push_back(&c);
    }
    Timer1.interval = 4;
    Timer2.interval = 500;
    Timer3.interval = 200;
    Timer1.enabled = Timer2.enabled = Timer3.enabled = true;
}

main_form::~main_form() = default;

control* main_form::find(const std::string& name) {
    for (control* c : controls)
        if (c->name == name) return c;
    return nullptr;
}

control& main_form::check(int n) {
    const std::array<control*, 10> boxes = {&Check1, &Check2, &Check3, &Check4, &Check5,
                                            &Check6, &Check7, &Check8, &Check9, &Check10};
    return *boxes.at(static_cast<std::size_t>(n - 1));
}

control& main_form::image(int n) {
    const std::array<control*, 16> images = {&Image1,  &Image2,  &Image3,  &Image4,  &Image5,  &Image6,
                                             &Image7,  &Image8,  &Image9,  &Image10, &Image11, &Image12,
                                             &Image13, &Image14, &Image15, &Image16};
    return *images.at(static_cast<std::size_t>(n - 1));
}

control& main_form::fblock(int i) {
    const std::array<control*, 9> labels = {&fblockA, &fblockB, &fblockC, &fblockD, &fblockE,
                                            &fblockF, &fblockG, &fblockH, &fblockI};
    return *labels.at(static_cast<std::size_t>(i));
}

control& main_form::block_label(int n) {
    const std::array<control*, 9> labels = {&Label23, &Label24, &Label25, &Label26, &Label27,
                                            &Label28, &Label29, &Label30, &Label31};
    return *labels.at(static_cast<std::size_t>(n - 1));
}

void Form_Load(main_form& f) {
    f.Combo1.items = {"keep in commimucation", "commimucation stop"};
    f.Combo1.caption = "commimucation stop";

    f.Combo2.items.clear();
    for (int n = 1; n <= 16; ++n) f.Combo2.items.push_back("COM" + std::to_string(n));
    f.Combo2.caption = "COM1";
    f.comm_port = 1;

    f.Combo3.items = {"UNLIMITED"};
    for (int n = 1; n <= 200; ++n) f.Combo3.items.push_back(std::to_string(n));
    f.Combo3.caption = "1";
    f.write_count_limit = 1;

    f.tx_frame = {0, 0};

    for (int n = 1; n <= 9; ++n) f.block_label(n).caption = no_block_text;
    f.Label32.caption = "Ｍ３２Ｒ";
    f.Label33.caption = "Ｍ１６Ｃ";
    f.Label34.caption = "ROMライタプログラムアップデート";

    f.cpu_is_m32r = 0;
    f.cpu_is_m16c = 0;
    f.block_filter_on = 1;
    f.pass_flag = 1;

    for (int n = 1; n <= 9; ++n) f.check(n).value = 1;

    f.job_no = 0;
    f.engine_step = 0;

    f.MSComm1.InputLen(0);

    f.memory_file_path.clear();
    f.Label10.caption = f.memory_file_path;

    // The work files live in a folder of this run only.
    f.work = std::make_unique<private_work_folder>();
    f.image_file_path = f.work->file("image.txt");
    f.control_file_path = f.work->file("control.txt");
    f.memories_copy_path = f.work->file("memories.txt");

    f.Timer3.enabled = false;
    f.Image1.visible = true;
    for (int n = 2; n <= 9; ++n) f.image(n).visible = false;
    for (int n = 12; n <= 16; ++n) f.image(n).visible = false;
}

void Form_Unload(main_form& f) {
    f.files.close(1);
    f.files.close(2);
    f.save.discard();
    f.work.reset();
}

namespace {

void choose_family(main_form& f, const cpu_family& family) {
    f.cpu_is_m32r = &family == &m32r_family ? 1 : 0;
    f.cpu_is_m16c = &family == &m16c_family ? 1 : 0;
    for (int n = 1; n <= 9; ++n) f.block_label(n).caption = family.block_captions[static_cast<std::size_t>(n - 1)];
}

}  // namespace

void Option1_Click(main_form& f) { choose_family(f, m32r_family); }
void Option2_Click(main_form& f) { choose_family(f, m16c_family); }

void Combo3_Click(main_form& f) {
    if (f.Combo3.caption == "UNLIMITED") {
        f.write_count_limit = 0;
        return;
    }
    for (int n = 1; n <= 200; ++n) {
        if (f.Combo3.caption == std::to_string(n)) {
            f.write_count_limit = static_cast<std::int16_t>(n);
            return;
        }
    }
}

void Combo3_Change(main_form& f) { Combo3_Click(f); }

void Check10_Click(main_form& f) { f.block_filter_on = (f.Check10.value == 1) ? 0 : 1; }

void Timer3_Timer(main_form& f) {
    int k = f.spinner_frame;
    if (k >= 0 && k <= 3) {
        for (int n = 1; n <= 4; ++n) f.image(n).visible = (n == k + 1);
        f.spinner_frame = static_cast<std::int16_t>((k + 1) % 4);
    }
    if (f.job_no == 6) {
        k = f.arrow_frame;
        if (k >= 0 && k <= 4) {
            for (int i = 0; i <= 4; ++i) f.image(5 + i).visible = (i == k);
            f.arrow_frame = static_cast<std::int16_t>((k + 1) % 5);
        }
    }
    if (saving_memories(f)) {
        k = f.arrow_frame;
        if (k >= 0 && k <= 4) {
            for (int i = 0; i <= 4; ++i) f.image(12 + i).visible = (i == k);
            f.arrow_frame = static_cast<std::int16_t>((k + 1) % 5);
        }
    }
}

void start_progress(main_form& f, int total, main_form::page_progress::kind what,
                    std::vector<main_form::page_progress::pass_plan> later, int closing_phases) {
    f.progress.done = 0;
    f.progress.total = total;
    f.progress.what = what;
    f.progress.later = std::move(later);
    f.progress.closing_phases = closing_phases;
    f.progress.running = true;
    ++f.progress.pass;
}

void page_done(main_form& f) {
    if (f.progress.done < f.progress.total) ++f.progress.done;
}

void stop_busy_indicator(main_form& f, indicator reset) {
    if (reset == indicator::untouched) return;
    f.Timer3.enabled = false;
    f.Image1.visible = true;
    const int last = reset == indicator::spinner ? 4 : 9;
    for (int n = 2; n <= last; ++n) f.image(n).visible = false;
    if (reset == indicator::all)
        for (int n = 12; n <= 16; ++n) f.image(n).visible = false;
}

const cpu_family& block_map(const main_form& f) {
    if (f.cpu_is_m16c == 1) return m16c_family;
    if (f.cpu_is_m32r == 1) return m32r_family;
    const cpu_family* image = flash_family(f.Label2.caption);
    return image ? *image : m32r_family;
}

// The range beside a block in the window is the target's map, not what the
// writer erases or locks, and is not named. A box that stands for no block
// of the map (M16C's last two) still sends its code: it is named by that.
std::string block_named(const main_form& f, int check) {
    const cpu_family& map = block_map(f);
    const block_label label = label_of_box(map, check);
    if (label.is_block() || check < 1 || check > 9) return label.text();
    return "the writer's block " + std::to_string(map.box_code[static_cast<std::size_t>(check - 1)]);
}

std::string block_of_code_named(const main_form& f, int code) {
    const block_label label = label_of_code(block_map(f), code);
    return label.is_block() ? label.text() : "the writer's block " + std::to_string(code);
}

}  // namespace torvela
