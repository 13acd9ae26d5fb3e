// The screen statements: colour, fill mode and font, text, lines,
// rectangles, arcs, images, copy and paste, PNG save, and tunes.
#pragma once

// Receiver of a short description of each drawing; none is attached, so it
// takes the text and does nothing.
int tarvScreenSend(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

int screen_set_color_red_a4_green_a6_blue_a8();
int screen_set_mode_a3();
int screen_set_mode_stroke();
int screen_set_font_a3_size_a5();
int screen_text_at_point_a4_a5_string_a7();
int screen_line_from_point_a4_a5_to_point_a8_a9();
int screen_rect_from_point_a4_a5_to_point_a8_a9();
int screen_arc_at_point_a4_a5_radius_a7_from_a9_to_a11();
int screen_image_url_a3_from_point_a6_a7_to_point_a10_a11();
int screen_copy_from_point_a4_a5_to_point_a8_a9();
int screen_paste_from_point_a4_a5_to_point_a8_a9_rotate_a11();
int screen_save_to_file_a4_from_point_a7_a8_to_point_a11_a12();
int screen_clear();
int screen_close();
int screen_meter_at_point_a4_a5_range_a7_to_a9_min_a11_max_a13_value_a15();
int screen_log_a2();
int screen_open_ip_a3_port_a5();
int screen_play_midi_a3();
int screen_play_music_a3();

// The family of the screen and gif statements.
struct Family;
const Family* ScreenFamily();
