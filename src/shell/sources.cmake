# Start window, about box and their platform pieces: target_sources(quillax_core|quillax_ui ...).
