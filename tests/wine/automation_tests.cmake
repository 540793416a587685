# The automation server with clients in other processes.
mvr_wine_test(automation_client test_automation_client.py)
mvr_wine_test(typelib test_typelib.py)
mvr_wine_test(automation_scripts test_automation_scripts.py)
mvr_wine_test(dead_client test_dead_client.py)
mvr_wine_test(server_handover test_server_handover.py)
mvr_wine_test(server_spares test_server_spares.py)
# Waits out the longest time a client may wait for a class object (120 s).
set_tests_properties(wine.server_spares PROPERTIES TIMEOUT 480)
