# quillax_add_test(test_startup ...)
