# quillax_add_test(test_cache_copy ...)
