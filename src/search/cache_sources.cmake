# Browser cache viewer and copy files dialog: target_sources(quillax_core|quillax_ui ...).
