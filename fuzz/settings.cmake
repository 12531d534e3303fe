# The settings' readers of user text: pattern lists and the identity.
qv_fuzz(settings_text_fuzz SOURCES settings_text_fuzz.cpp DEPS qv_settings)
