# The windows under Wine, worked through the UI driver.
mvr_wine_test(ui_main ui_main_test.py)
mvr_wine_test(ui_port ui_port_test.py)
mvr_wine_test(ui_start ui_start_test.py)
mvr_wine_test(ui_settings ui_settings_test.py)
mvr_wine_test(ui_aux ui_aux_test.py)
mvr_wine_test(no_window ui_no_window_test.py)
mvr_wine_test(ui_end ui_end_test.py)
mvr_wine_test(ui_dialog ui_dialog_test.py)
