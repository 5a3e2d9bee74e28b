#include "console/main_form.hpp"

#include "platform/seq_files.hpp"

namespace torvela {


namespace {

struct design {
    control main_form::*member;
    const char* name;
    control_kind kind;
    int left, top, width, height;
    const char* caption;
    bool visible;
    int service_left = 0, service_top = 0;
};

using K = control_kind;
using F = main_form;

// Service controls have no place in the operator's view; they sit below the
// client area (top 3150 twips or more) in rows of their own.
constexpr int svc_top = 3240;
constexpr int row = 480;
constexpr int col = 1860;
constexpr int bw = 1740, bh = 375;
// The four job buttons hidden at design time overlap the operator's controls
// (and each other) at their design positions: the service view shows them
// in a row of their own below the diagnostic labels.
constexpr int job_row = svc_top + 16 * row;

const design layout[] = {
    // working area, visible
    {&F::serial_name, "serial_name", K::label, 0, 120, 2175, 255, "SELECT SERIAL PORT", true},
    {&F::Combo2, "Combo2", K::combo, 2040, 120, 1095, 345, "", true},
    {&F::Label9, "Label9", K::label, 3600, 240, 3855, 375, "", true},
    {&F::file_select, "file_select", K::button, 120, 720, 2295, 495, "SELECT FILE ", true},
    {&F::allunlock_erase, "allunlock_erase", K::button, 120, 1320, 2295, 495, "ERASE ALL FLASH", true},
    {&F::Label10, "Label10", K::label, 120, 2040, 7095, 270, "", true},
    {&F::Image1, "Image1", K::image, 3240, 240, 210, 210, "", true},
    {&F::Image2, "Image2", K::image, 3240, 240, 210, 210, "", true},
    {&F::Image3, "Image3", K::image, 3240, 240, 210, 210, "", true},
    {&F::Image4, "Image4", K::image, 3240, 240, 210, 210, "", true},
    {&F::Image10, "Image10", K::image, 5880, 600, 510, 435, "", true},
    {&F::Image5, "Image5", K::image, 6000, 1080, 255, 435, "", true},
    {&F::Image6, "Image6", K::image, 6000, 1080, 255, 435, "", true},
    {&F::Image7, "Image7", K::image, 6000, 1080, 255, 435, "", true},
    {&F::Image8, "Image8", K::image, 6000, 1080, 255, 435, "", true},
    {&F::Image9, "Image9", K::image, 6000, 1080, 255, 435, "", true},
    {&F::Image12, "Image12", K::image, 6000, 1080, 255, 435, "", true},
    {&F::Image13, "Image13", K::image, 6000, 1080, 255, 435, "", true},
    {&F::Image14, "Image14", K::image, 6000, 1080, 255, 435, "", true},
    {&F::Image15, "Image15", K::image, 6000, 1080, 255, 435, "", true},
    {&F::Image16, "Image16", K::image, 6000, 1080, 255, 435, "", true},
    {&F::Image11, "Image11", K::image, 5880, 1560, 675, 210, "", true},
    // working area, hidden at design time
    {&F::ramdata_get, "ramdata_get", K::button, 2520, 720, 2295, 495, "SAVE MEMORIES TO FILE", false},
    {&F::ramdata_store, "ramdata_store", K::button, 2520, 1320, 2295, 495, "TRANSMIT MEMORIES", false},
    {&F::flashall_write, "flashall_write", K::button, 120, 1920, 2295, 495, "TRANSMIT ROM DATA", false,
     120 + 0 * col, job_row},
    {&F::unit_3mode, "unit_3mode", K::button, 1560, 2280, 2175, 495, "ターゲット直接書込", false, 120 + 1 * col,
     job_row},
    {&F::writer_versionup, "writer_versionup", K::button, 2400, 2280, 2175, 495, "ﾛﾑﾗｲﾀﾊﾞｰｼﾞｮﾝｱｯﾌﾟ", false,
     120 + 2 * col, job_row},
    {&F::flashblock_write, "flashblock_write", K::button, 3600, 2280, 2175, 495, "ﾛﾑﾗｲﾀﾌﾞﾛｯｸ書込", false,
     120 + 3 * col, job_row},
    // service buttons below the client area
    {&F::rockbit_non, "rockbit_non", K::button, 120 + 0 * col, svc_top, bw, bh, "ロックビット無効", false},
    {&F::rockbit_on, "rockbit_on", K::button, 120 + 1 * col, svc_top, bw, bh, "ロックビット有効", false},
    {&F::block_erase, "block_erase", K::button, 120 + 2 * col, svc_top, bw, bh, "ブロック消去", false},
    {&F::verify, "verify", K::button, 120 + 3 * col, svc_top, bw, bh, "ベリファイ", false},
    {&F::write_count, "write_count", K::button, 120 + 0 * col, svc_top + row, bw, bh, "書き込み回数get", false},
    {&F::command1, "command1", K::button, 120 + 1 * col, svc_top + row, bw, bh, "通信開始", false},
    {&F::id_check, "id_check", K::button, 120 + 2 * col, svc_top + row, bw, bh, "ＩＤチェック", false},
    {&F::rockbit_set, "rockbit_set", K::button, 120 + 3 * col, svc_top + row, bw, bh, "ロックビットセット", false},
    {&F::rockbit_read, "rockbit_read", K::button, 120 + 0 * col, svc_top + 2 * row, bw, bh, "ロックビットリード", false},
    {&F::swon_en, "swon_en", K::button, 120 + 1 * col, svc_top + 2 * row, bw, bh, "ｽｲｯﾁ認識許可", false},
    {&F::target_write, "target_write", K::button, 120 + 2 * col, svc_top + 2 * row, bw, bh, "ﾗｲﾀ→ﾀｰｹﾞｯﾄ", false},
    {&F::write, "write", K::button, 120 + 3 * col, svc_top + 2 * row, bw, bh, "書き込み", false},
    {&F::Command3, "Command3", K::button, 120 + 0 * col, svc_top + 3 * row, bw, bh, "通信切断", false},
    {&F::Combo1, "Combo1", K::combo, 120 + 1 * col, svc_top + 3 * row, 2600, 345, "", false},
    {&F::targetnumber, "targetnumber", K::label, 120, svc_top + 4 * row, 4200, 255, "THE COUNT OF WRITING ROM DATA TO TARGET:", false},
    {&F::Combo3, "Combo3", K::combo, 4440, svc_top + 4 * row, 1500, 345, "", false},
    {&F::ID_label, "ID_label", K::label, 120, svc_top + 5 * row, 3000, 255, "前回のIDと今回のIDが違う", false},
    {&F::privious_id_match, "privious_id_match", K::check, 3180, svc_top + 5 * row, 255, 255, "", false},
    {&F::privious_id, "privious_id", K::label, 3480, svc_top + 5 * row, 1000, 255, "前回のID", false},
    {&F::ID, "ID", K::text, 4500, svc_top + 5 * row, 2900, 315, "", false},
    {&F::Check1, "Check1", K::check, 120, svc_top + 6 * row, 255, 255, "check1", false},
    {&F::Check2, "Check2", K::check, 120, svc_top + 7 * row, 255, 255, "check2", false},
    {&F::Check3, "Check3", K::check, 120, svc_top + 8 * row, 255, 255, "check3", false},
    {&F::Check4, "Check4", K::check, 120, svc_top + 9 * row, 255, 255, "Check4", false},
    {&F::Label23, "Label23", K::label, 420, svc_top + 6 * row, 3200, 255, "Label23", false},
    {&F::Label24, "Label24", K::label, 420, svc_top + 7 * row, 3200, 255, "Label24", false},
    {&F::Label25, "Label25", K::label, 420, svc_top + 8 * row, 3200, 255, "Label25", false},
    {&F::Label26, "Label26", K::label, 420, svc_top + 9 * row, 3200, 255, "Label26", false},
    {&F::Check5, "Check5", K::check, 3780, svc_top + 6 * row, 255, 255, "Check5", false},
    {&F::Check6, "Check6", K::check, 3780, svc_top + 7 * row, 255, 255, "Check6", false},
    {&F::Check7, "Check7", K::check, 3780, svc_top + 8 * row, 255, 255, "Check7", false},
    {&F::Check8, "Check8", K::check, 3780, svc_top + 9 * row, 255, 255, "Check8", false},
    {&F::Check9, "Check9", K::check, 3780, svc_top + 10 * row, 255, 255, "Check9", false},
    {&F::Label27, "Label27", K::label, 4080, svc_top + 6 * row, 3200, 255, "Label27", false},
    {&F::Label28, "Label28", K::label, 4080, svc_top + 7 * row, 3200, 255, "Label28", false},
    {&F::Label29, "Label29", K::label, 4080, svc_top + 8 * row, 3200, 255, "Label29", false},
    {&F::Label30, "Label30", K::label, 4080, svc_top + 9 * row, 3200, 255, "Label30", false},
    {&F::Label31, "Label31", K::label, 4080, svc_top + 10 * row, 3200, 255, "Label31", false},
    {&F::Option1, "Option1", K::option, 120, svc_top + 11 * row, 255, 255, "Option1", false},
    {&F::Label32, "Label32", K::label, 420, svc_top + 11 * row, 1000, 255, "Label32", false},
    {&F::Option2, "Option2", K::option, 1560, svc_top + 11 * row, 255, 255, "Option2", false},
    {&F::Label33, "Label33", K::label, 1860, svc_top + 11 * row, 1000, 255, "Label33", false},
    {&F::Check10, "Check10", K::check, 3000, svc_top + 11 * row, 255, 255, "Check10", false},
    {&F::Label34, "Label34", K::label, 3300, svc_top + 11 * row, 3600, 255, "Label34", false},
    // diagnostic labels, one grid
    {&F::fblockA, "fblockA", K::label, 120 + 0 * 820, svc_top + 12 * row, 760, 255, "", false},
    {&F::fblockB, "fblockB", K::label, 120 + 1 * 820, svc_top + 12 * row, 760, 255, "", false},
    {&F::fblockC, "fblockC", K::label, 120 + 2 * 820, svc_top + 12 * row, 760, 255, "", false},
    {&F::fblockD, "fblockD", K::label, 120 + 3 * 820, svc_top + 12 * row, 760, 255, "", false},
    {&F::fblockE, "fblockE", K::label, 120 + 4 * 820, svc_top + 12 * row, 760, 255, "", false},
    {&F::fblockF, "fblockF", K::label, 120 + 5 * 820, svc_top + 12 * row, 760, 255, "", false},
    {&F::fblockG, "fblockG", K::label, 120 + 6 * 820, svc_top + 12 * row, 760, 255, "", false},
    {&F::fblockH, "fblockH", K::label, 120 + 7 * 820, svc_top + 12 * row, 760, 255, "", false},
    {&F::fblockI, "fblockI", K::label, 120 + 8 * 820, svc_top + 12 * row, 760, 255, "", false},
    {&F::Label1, "Label1", K::label, 120 + 0 * 820, svc_top + 13 * row, 2400, 255, "Label1", false},
    {&F::Label2, "Label2", K::label, 120 + 3 * 820, svc_top + 13 * row, 2400, 255, "Label2", false},
    {&F::Label8, "Label8", K::label, 120 + 6 * 820, svc_top + 13 * row, 760, 255, "Label8", false},
    {&F::Label11, "Label11", K::label, 120 + 7 * 820, svc_top + 13 * row, 760, 255, "Label11", false},
    {&F::Label12, "Label12", K::label, 120 + 8 * 820, svc_top + 13 * row, 760, 255, "Label12", false},
    {&F::Label4, "Label4", K::label, 120 + 0 * 820, svc_top + 14 * row, 760, 255, "Label4", false},
    {&F::Label5, "Label5", K::label, 120 + 1 * 820, svc_top + 14 * row, 760, 255, "Label5", false},
    {&F::Label6, "Label6", K::label, 120 + 2 * 820, svc_top + 14 * row, 760, 255, "Label6", false},
    {&F::Label7, "Label7", K::label, 120 + 3 * 820, svc_top + 14 * row, 760, 255, "Label7", false},
    {&F::Label17, "Label17", K::label, 120 + 4 * 820, svc_top + 14 * row, 760, 255, "Label17", false},
    {&F::Label18, "Label18", K::label, 120 + 5 * 820, svc_top + 14 * row, 760, 255, "Label18", false},
    {&F::Label19, "Label19", K::label, 120 + 6 * 820, svc_top + 14 * row, 760, 255, "Label19", false},
    {&F::Label20, "Label20", K::label, 120 + 7 * 820, svc_top + 14 * row, 760, 255, "Label20", false},
    {&F::Label21, "Label21", K::label, 120 + 8 * 820, svc_top + 14 * row, 760, 255, "Label21", false},
    {&F::Label22, "Label22", K::label, 120 + 0 * 820, svc_top + 15 * row, 760, 255, "Label22", false},
    {&F::Label15, "Label15", K::label, 120 + 1 * 820, svc_top + 15 * row, 760, 255, "Label15", false},
    {&F::Label16, "Label16", K::label, 120 + 2 * 820, svc_top + 15 * row, 760, 255, "Label16", false},
    {&F::Timer1, "Timer1", K::timer, 0, 0, 0, 0, "", false},
    {&F::Timer2, "Timer2", K::timer, 0, 0, 0, 0, "", false},
    {&F::Timer3, "Timer3", K::timer, 0, 0, 0, 0, "", false},
};

}  // namespace

main_form::main_form(serial_port& port, message_box& box, dialogs& dlg, seq_files& f)
    : MSComm1(port), msgbox(box), dialog(dlg), files(f) {
    for (const design& d : layout) {
        control& c = this->*(d.member);
        c.name = d.name;
        c.kind = d.kind;
        c.left = d.left;
        c.top = d.top;
        c.width = d.width;
        c.height = d.height;
        c.caption = d.caption;
        c.visible = d.visible;
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
    control* const boxes[] = {&Check1, &Check2, &Check3, &Check4, &Check5,
                              &Check6, &Check7, &Check8, &Check9, &Check10};
    return *boxes[(n >= 1 && n <= 10) ? n - 1 : 0];
}

control& main_form::image(int n) {
    control* const images[] = {&Image1,  &Image2,  &Image3,  &Image4,  &Image5,  &Image6,
                               &Image7,  &Image8,  &Image9,  &Image10, &Image11, &Image12,
                               &Image13, &Image14, &Image15, &Image16};
    return *images[(n >= 1 && n <= 16) ? n - 1 : 0];
}

control& main_form::fblock(int i) {
    control* const labels[] = {&fblockA, &fblockB, &fblockC, &fblockD, &fblockE,
                               &fblockF, &fblockG, &fblockH, &fblockI};
    return *labels[(i >= 0 && i <= 8) ? i : 0];
}

control& main_form::block_label(int n) {
    control* const labels[] = {&Label23, &Label24, &Label25, &Label26, &Label27,
                               &Label28, &Label29, &Label30, &Label31};
    return *labels[(n >= 1 && n <= 9) ? n - 1 : 0];
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
    if (f.job_no == 4) {
        k = f.arrow_frame;
        if (k >= 0 && k <= 4) {
            for (int i = 0; i <= 4; ++i) f.image(12 + i).visible = (i == k);
            f.arrow_frame = static_cast<std::int16_t>((k + 1) % 5);
        }
    }
}

void start_progress(main_form& f, int total) {
    f.progress.done = 0;
    f.progress.total = total;
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

}  // namespace torvela
