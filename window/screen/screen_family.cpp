// The screen family: the screen statements and the gif recorder; each
// initialisation restores the default colour, mode and font.
#include "engine/core/family.h"
#include "window/draw/screen_state.h"
#include "window/gif/gif_recorder.h"
#include "window/screen/screen_statements.h"

namespace {
constexpr FamilyHandler kHandlers[] = {
    {12, screen_set_color_red_a4_green_a6_blue_a8},
    {13, screen_set_mode_a3},
    {14, screen_set_mode_stroke},
    {15, screen_set_font_a3_size_a5},
    {16, screen_text_at_point_a4_a5_string_a7},
    {17, screen_line_from_point_a4_a5_to_point_a8_a9},
    {18, screen_rect_from_point_a4_a5_to_point_a8_a9},
    {19, screen_arc_at_point_a4_a5_radius_a7_from_a9_to_a11},
    {20, screen_image_url_a3_from_point_a6_a7_to_point_a10_a11},
    {21, screen_copy_from_point_a4_a5_to_point_a8_a9},
    {22, screen_paste_from_point_a4_a5_to_point_a8_a9_rotate_a11},
    {23, screen_save_to_file_a4_from_point_a7_a8_to_point_a11_a12},
    {24, screen_clear},
    {25, screen_close},
    {26, screen_meter_at_point_a4_a5_range_a7_to_a9_min_a11_max_a13_value_a15},
    {27, screen_log_a2},
    {28, screen_open_ip_a3_port_a5},
    {29, screen_play_midi_a3},
    {30, screen_play_music_a3},
    {176, gif_create_from_a3_a4_to_a6_a7},
    {177, gif_add_frame_delay_a4_seconds},
    {178, gif_save_to_file_a4},
};

constexpr Family kFamily = {"screen", kHandlers, ScreenStateReset, nullptr};
}  // namespace

const Family* ScreenFamily() { return &kFamily; }
