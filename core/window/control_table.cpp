// The window's control table: every control of the main window in design
// order, with its design position, caption, the handlers it runs and, for
// the job buttons hidden in the operator's area, its service-view row.
// Every front end draws the controls from this table and forwards their
// events to the handlers it names.
#include "console/main_form.hpp"
#include "engine/engine.hpp"
#include "engine/writer_id.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "memories/memories.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/memory_files.hpp"
#include "rom_data/page_exchange.hpp"
#include "service/confirm_commands.hpp"
#include "service/lock_bits.hpp"
#include "service/write_count.hpp"

namespace torvela {

namespace {

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

constexpr control_design table[] = {
    // working area, visible
    {&F::serial_name, "serial_name", K::label, 0, 120, 2175, 255, "SELECT SERIAL PORT", true},
    {&F::Combo2, "Combo2", K::combo, 2040, 120, 1095, 345, "", true, Combo2_Click, Combo2_Change},
    {&F::Label9, "Label9", K::label, 3600, 240, 3855, 375, "", true},
    {&F::file_select, "file_select", K::button, 120, 720, 2295, 495, "SELECT FILE ", true, file_select_Click, nullptr},
    {&F::allunlock_erase, "allunlock_erase", K::button, 120, 1320, 2295, 495, "ERASE ALL FLASH", true, allunlock_erase_Click, nullptr},
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
    {&F::ramdata_get, "ramdata_get", K::button, 2520, 720, 2295, 495, "SAVE MEMORIES TO FILE", false, ramdata_get_Click, nullptr},
    {&F::ramdata_store, "ramdata_store", K::button, 2520, 1320, 2295, 495, "TRANSMIT MEMORIES", false, ramdata_store_Click, nullptr},
    {&F::flashall_write, "flashall_write", K::button, 120, 1920, 2295, 495, "TRANSMIT ROM DATA", false, flashall_write_Click, nullptr,
     120 + 0 * col, job_row},
    {&F::unit_3mode, "unit_3mode", K::button, 1560, 2280, 2175, 495, "ターゲット直接書込", false, unit_3mode_Click, nullptr, 120 + 1 * col,
     job_row},
    {&F::writer_versionup, "writer_versionup", K::button, 2400, 2280, 2175, 495, "ﾛﾑﾗｲﾀﾊﾞｰｼﾞｮﾝｱｯﾌﾟ", false, writer_versionup_Click, nullptr,
     120 + 2 * col, job_row},
    {&F::flashblock_write, "flashblock_write", K::button, 3600, 2280, 2175, 495, "ﾛﾑﾗｲﾀﾌﾞﾛｯｸ書込", false, flashblock_write_Click, nullptr,
     120 + 3 * col, job_row},
    // service buttons below the client area
    {&F::rockbit_non, "rockbit_non", K::button, 120 + 0 * col, svc_top, bw, bh, "ロックビット無効", false, rockbit_non_Click, nullptr},
    {&F::rockbit_on, "rockbit_on", K::button, 120 + 1 * col, svc_top, bw, bh, "ロックビット有効", false, rockbit_on_Click, nullptr},
    {&F::block_erase, "block_erase", K::button, 120 + 2 * col, svc_top, bw, bh, "ブロック消去", false, block_erase_Click, nullptr},
    {&F::verify, "verify", K::button, 120 + 3 * col, svc_top, bw, bh, "ベリファイ", false, verify_Click, nullptr},
    {&F::write_count, "write_count", K::button, 120 + 0 * col, svc_top + row, bw, bh, "書き込み回数get", false, write_count_Click, nullptr},
    {&F::command1, "command1", K::button, 120 + 1 * col, svc_top + row, bw, bh, "通信開始", false, command1_Click, nullptr},
    {&F::id_check, "id_check", K::button, 120 + 2 * col, svc_top + row, bw, bh, "ＩＤチェック", false, id_check_Click, nullptr},
    {&F::rockbit_set, "rockbit_set", K::button, 120 + 3 * col, svc_top + row, bw, bh, "ロックビットセット", false, rockbit_set_Click, nullptr},
    {&F::rockbit_read, "rockbit_read", K::button, 120 + 0 * col, svc_top + 2 * row, bw, bh, "ロックビットリード", false, rockbit_read_Click, nullptr},
    {&F::swon_en, "swon_en", K::button, 120 + 1 * col, svc_top + 2 * row, bw, bh, "ｽｲｯﾁ認識許可", false, swon_en_Click, nullptr},
    {&F::target_write, "target_write", K::button, 120 + 2 * col, svc_top + 2 * row, bw, bh, "ﾗｲﾀ→ﾀｰｹﾞｯﾄ", false, target_write_Click, nullptr},
    {&F::write, "write", K::button, 120 + 3 * col, svc_top + 2 * row, bw, bh, "書き込み", false, write_Click, nullptr},
    {&F::Command3, "Command3", K::button, 120 + 0 * col, svc_top + 3 * row, bw, bh, "通信切断", false, Command3_Click, nullptr},
    {&F::Combo1, "Combo1", K::combo, 120 + 1 * col, svc_top + 3 * row, 2600, 345, "", false, Combo1_Click, nullptr},
    // The save's read and verify without its erase: the writer keeps the unit.
    {&F::backup_memories, "backup_memories", K::button, 120 + 3 * col, svc_top + 3 * row, bw, bh, "BACKUP MEMORIES", false,
     backup_memories_Click, nullptr},
    {&F::targetnumber, "targetnumber", K::label, 120, svc_top + 4 * row, 4200, 255, "THE COUNT OF WRITING ROM DATA TO TARGET:", false},
    {&F::Combo3, "Combo3", K::combo, 4440, svc_top + 4 * row, 1500, 345, "", false, Combo3_Click, Combo3_Change},
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
    {&F::Option1, "Option1", K::option, 120, svc_top + 11 * row, 255, 255, "Option1", false, Option1_Click, nullptr},
    {&F::Label32, "Label32", K::label, 420, svc_top + 11 * row, 1000, 255, "Label32", false},
    {&F::Option2, "Option2", K::option, 1560, svc_top + 11 * row, 255, 255, "Option2", false, Option2_Click, nullptr},
    {&F::Label33, "Label33", K::label, 1860, svc_top + 11 * row, 1000, 255, "Label33", false},
    {&F::Check10, "Check10", K::check, 3000, svc_top + 11 * row, 255, 255, "Check10", false, Check10_Click, nullptr},
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
    {&F::Timer1, "Timer1", K::timer, 0, 0, 0, 0, "", false, Timer1_Timer, nullptr},
    {&F::Timer2, "Timer2", K::timer, 0, 0, 0, 0, "", false, Timer2_Timer, nullptr},
    {&F::Timer3, "Timer3", K::timer, 0, 0, 0, 0, "", false, Timer3_Timer, nullptr},
};

}  // namespace

std::span<const control_design> control_table() { return table; }

}  // namespace torvela
