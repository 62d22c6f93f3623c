# stubs: written below
