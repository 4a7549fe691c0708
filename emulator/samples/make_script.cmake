# Joins sample scripts into one and appends a suffix to the package table names.
#   cmake -DOUT=file -DBASE=a.sql -DEXTRA=b.sql [-DSUFFIX=_2023] -P make_script.cmake
set(text "")
foreach(input ${BASE} ${EXTRA})
  file(READ "${input}" part)
  string(APPEND text "${part}\n")
endforeach()
if(SUFFIX)
  foreach(table t_Account t_Balance t_VouNum t_Voucher t_VouDetail t_VouItemDetail t_ItemType
                t_ItemBalance t_Item)
    string(REGEX REPLACE "${table}([ (\n])" "${table}${SUFFIX}\\1" text "${text}")
  endforeach()
endif()
file(WRITE "${OUT}" "${text}")
