^XA
^CI28
^PW480^LL320
^FO16,12^A0N,36,36^FD${serial_number}^FS
^FO16,56^A0N,20,20^FD${outcome} ${date} ${station} FW ${sw_version}^FS
^FO16,84^BY2^BCN,90,N,N,N^FD${barcode}^FS
^FO16,190^BXN,5,200^FD${serial_number}^FS
^FO340,190^BQN,2,4^FDQA,${run_id}^FS
^XZ
