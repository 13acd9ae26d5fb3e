// Every statement handler the table reaches.  Each takes no argument and
// returns 0 or a negative error code.
#pragma once

// The shared answer of every statement that is not built yet.
int StatementNotCompleted();

// engine
int EsBlankLine();

// var
int var_a2_value_a4();
int var_a2_value_number_a5();
int var_a2_value_datetime();
int var_a2_value_encrypt_a5();
int var_a2_value_decrypt_a5();
int var_a2_add_a4();
int var_a2_add_number_a5();
int var_a2_replace_a4_with_a6();
int var_a2_adjust_length_a5_align_a7();
int var_a2_copy_var_a5();
int var_a2_copy_var_a5_after_a7_bytes_length_a10();

// run
int run_end();
int run_sleep_a2_seconds();
int run_set_loglevel_a3();
int run_set_onerror_a3();
int run_set_run_maxtime_a3_seconds();
int run_set_step_timeout_a3_seconds();
int run_nms_a2();

// text
int text_show_a2_size_a4_align_a6();
int text_add_a2();
int text_add_from_file_a4();
int text_headpointer_move_to_head();
int text_headpointer_move_to_tail();
int text_headpointer_move_to_a4_byte();
int text_headpointer_move_forward_a4_bytes();
int text_headpointer_move_forward_after_a5();
int text_head_pointer_move_forward_before_a5();
int text_head_pointer_move_forward_to_the_head_of_next_line();
int text_tailpointer_move_to_head();
int text_tailpointer_move_to_tail();
int text_tailpointer_move_to_a4_byte();
int text_tailpointer_move_backward_a4_bytes();
int text_tailpointer_move_backward_before_a5();
int text_tail_pointer_move_backward_after_a5();
int text_tail_pointer_move_backward_to_the_end_of_previous_line();
int text_replace_a2_with_a4();
int text_save_to_file_a4();
int text_save_append_to_file_a5();
int text_get_var_a3_after_a5_bytes_length_a8();
int text_get_var_a3_between_a5_and_a7();
int text_get_var_a3_after_a5_length_a7();
int text_get_var_a3_word_number_a6();
int text_line_get_all_words();
int text_line_get_all_words_between_a6_and_a8_separated_by_a11();
int text_delete_from_headpointer();
int text_delete_from_a3_byte();
int text_delete_from_tailpointer();

// if, loop, macro (control flow)
int if_var_a2_vs_a4();
int if_var_a2_in_a4();
int if_var_a2_not_in_a5();
int if_var_a2_contain_a4();
int if_var_a2_not_contain_a5();
int if_text_contain_a3();
int if_text_not_contain_a4();
int if_end();
int loop_begin();
int loop_next();
int loop_exit();
int loop_end();
int macro_call_a2();
int macro_begin_a2();
int macro_return();
int macro_end();

// tarv (developer statements)
int tarv_createsource();
int tarv_debug_a2();
